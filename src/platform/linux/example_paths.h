// Paths in Linux's form for the examples of the usage text: string-literal
// macros, so that the text is one constant. The includer #undefs them after
// use. The Windows build has its own copy with the same names.
#pragma once

#define QEX_HOME "/home/alice"
#define QEX_DOCS "'/srv/docs/*.txt'"
#define QEX_RESTORE "/tmp/restore"
#define QEX_SEP "/"
