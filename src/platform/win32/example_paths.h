// Paths in Windows' form for the examples of the usage text: string-literal
// macros, so that the text is one constant. The includer #undefs them after
// use. The Linux build has its own copy with the same names.
#pragma once

#define QEX_HOME "C:\\Users\\alice"
#define QEX_DOCS "C:\\Docs\\*.txt"
#define QEX_RESTORE "D:\\restore"
#define QEX_SEP "\\"
