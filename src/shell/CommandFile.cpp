#include "shell/CommandFile.h"

#include "base/StdOut.h"
#include "language/ExampleFiles.h"

#include <algorithm>
#include <filesystem>
#include <strings.h>
#include <sys/stat.h>

namespace {

bool ModTime(const std::string& path, timespec& out)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return false;
    out = st.st_mtim;
    return true;
}

bool LessIgnoringCase(const std::string& a, const std::string& b)
{
    return strcasecmp(a.c_str(), b.c_str()) < 0;
}

}  // namespace

std::string AbsoluteIfFound(const std::string& asked)
{
    const std::string path = FindExampleFile(asked);
    std::filesystem::path p(path);
    if (path.empty() || p.is_absolute())
        return path;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(p, ec))
        return path;
    auto full = std::filesystem::absolute(p, ec);
    return ec ? path : full.lexically_normal().string();
}

bool CCommandFile::Load(CStdOut& out, bool debug)
{
    m_compiler.Clear();
    m_loaded = false;
    out.Print("Loading Commands file: %s\r\n", m_path.c_str());
    m_compiler.SetDump(debug, debug ? &out : nullptr);
    // Command files may give several commands the same code.
    if (m_compiler.Compile(m_path, true) != 1) {
        out.Print("%s\r\n", m_compiler.GetErrorText().c_str());
        m_compiler.Clear();
        m_watching = false;
        return false;
    }
    out.Print("Read Commands Success\r\n");
    m_loaded = true;
    m_watching = ModTime(m_path, m_modTime);
    return true;
}

bool CCommandFile::PollModified()
{
    if (!m_watching)
        return false;
    timespec now{};
    // A file that is being replaced may be missing for a moment.
    if (!ModTime(m_path, now))
        return false;
    if (now.tv_sec == m_modTime.tv_sec && now.tv_nsec == m_modTime.tv_nsec)
        return false;
    m_watching = false;
    return true;
}

std::vector<std::string> CommandListNames(const CVa_Compiler* tables)
{
    std::vector<std::string> names;
    if (tables) {
        for (const auto& s : tables->Structs())
            names.push_back(s.Name());
        std::stable_sort(names.begin(), names.end(), LessIgnoringCase);
    }
    names.insert(names.begin(), kRawCommandName);
    return names;
}

int FindCommandByPrefix(const std::vector<std::string>& names, const std::string& prefix)
{
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i].size() >= prefix.size() && strncasecmp(names[i].c_str(), prefix.c_str(), prefix.size()) == 0)
            return static_cast<int>(i);
    return -1;
}
