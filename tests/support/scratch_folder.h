// A fresh folder for one test below the system's temporary folder, removed
// with everything in it when the object goes.
//
// The first name (a clock stamp and a serial number) that can be created is
// taken, so tests running in parallel never share a folder. Before removal
// every item a test made read-only or unreadable is opened up again
// (symbolic links are left alone: they may lead anywhere).
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>

namespace qex::test {

class ScratchFolder {
public:
    ScratchFolder() {
        namespace fs = std::filesystem;
        static std::atomic<unsigned> serial{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        const fs::path base = fs::temp_directory_path();
        for (unsigned attempt = 0; root_.empty() && attempt < 1000; ++attempt) {
            const std::string name = "qex-" + std::to_string(stamp) + "-" + std::to_string(serial++);
            const fs::path candidate = base / name;
            std::error_code error;
            if (fs::create_directory(candidate, error)) root_ = candidate;
        }
    }
    ~ScratchFolder() {
        namespace fs = std::filesystem;
        if (root_.empty()) return;
        std::error_code ignored;
        for (auto it = fs::recursive_directory_iterator(root_, ignored); it != fs::recursive_directory_iterator();
             it.increment(ignored)) {
            if (it->is_symlink(ignored)) continue;
            const fs::perms wanted = it->is_directory(ignored) ? fs::perms::owner_all
                                                               : fs::perms::owner_read | fs::perms::owner_write;
            fs::permissions(it->path(), wanted, fs::perm_options::add, ignored);
        }
        fs::remove_all(root_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // Empty when no folder could be created.
    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path operator/(const std::string& name) const { return root_ / name; }

private:
    std::filesystem::path root_;
};

}  // namespace qex::test
