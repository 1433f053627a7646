#include "language/ExampleFiles.h"

#include <filesystem>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool isFile(const fs::path& path)
{
    std::error_code ignored;
    return fs::is_regular_file(path, ignored);
}

// True when folder lies inside root (both absolute and normalised).
bool isInside(const fs::path& folder, const fs::path& root)
{
    const fs::path relative = folder.lexically_relative(root);
    return !relative.empty() && *relative.begin() != "..";
}

std::vector<fs::path> exampleFolders()
{
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    if (error)
        return {};
    const fs::path folder = program.parent_path();
    std::vector<fs::path> folders{folder / "examples"};
    const fs::path binaryDir = fs::weakly_canonical(TELVANE_BINARY_DIR, error);
    if (!error && isInside(folder, binaryDir))
        folders.emplace_back(fs::path(TELVANE_SOURCE_DIR) / "examples");
    folders.push_back((folder / ".." / "share" / "telvane" / "examples").lexically_normal());
    return folders;
}

}  // namespace

std::string FindExampleFile(const std::string& path)
{
    const fs::path asked(path);
    if (path.empty() || isFile(asked) || asked.is_absolute())
        return path;
    for (const fs::path& folder : exampleFolders()) {
        const fs::path candidate = folder / asked.filename();
        if (isFile(candidate))
            return candidate.string();
    }
    return path;
}
