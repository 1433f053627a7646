#include "AclTestSupport.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/fs.h>
#include <stdexcept>
#include <linux/capability.h>
#include <acl/libacl.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

CTempTree::CTempTree()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/brenlock-test-XXXXXX";
    if (!mkdtemp(templ.data()))
        throw std::runtime_error("mkdtemp failed");
    root_ = templ;
    chmod(root_.c_str(), 0755);
}

CTempTree::~CTempTree()
{
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

std::string CTempTree::File(const std::string& relative) const
{
    const std::string path = Path(relative);
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << "content\n";
    chmod(path.c_str(), 0644);
    return path;
}

std::string CTempTree::Folder(const std::string& relative) const
{
    const std::string path = Path(relative);
    fs::create_directories(path);
    chmod(path.c_str(), 0755);
    return path;
}

std::string Getfacl(const std::string& path)
{
    std::string text;
    FILE* pipe = popen(("getfacl -c -p -- '" + path + "' 2>&1").c_str(), "r");
    if (!pipe)
        return "popen failed";
    char buffer[512];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        text.append(buffer, n);
    pclose(pipe);
    return text;
}

int Shell(const std::string& command)
{
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

namespace {
template <typename Visit>
void ForEachNamedEntry(const std::string& path, acl_type_t type, Visit visit)
{
    acl_t acl = acl_get_file(path.c_str(), type);
    if (!acl)
        return;
    acl_entry_t entry;
    for (int rc = acl_get_entry(acl, ACL_FIRST_ENTRY, &entry); rc == 1;
         rc = acl_get_entry(acl, ACL_NEXT_ENTRY, &entry)) {
        acl_tag_t tag;
        acl_get_tag_type(entry, &tag);
        if (tag != ACL_USER && tag != ACL_GROUP)
            continue;
        auto* id = static_cast<id_t*>(acl_get_qualifier(entry));
        acl_permset_t permset;
        acl_get_permset(entry, &permset);
        unsigned perms = 0;
        for (acl_perm_t perm : {ACL_READ, ACL_WRITE, ACL_EXECUTE})
            if (acl_get_perm(permset, perm) == 1)
                perms |= perm;
        visit(tag, *id, perms);
        acl_free(id);
    }
    acl_free(acl);
}
} // namespace

std::optional<unsigned> NamedEntryPerms(const std::string& path, acl_type_t type, acl_tag_t tag, id_t id)
{
    std::optional<unsigned> found;
    ForEachNamedEntry(path, type, [&](acl_tag_t t, id_t i, unsigned perms) {
        if (t == tag && i == id)
            found = perms;
    });
    return found;
}

int NamedEntryCount(const std::string& path, acl_type_t type)
{
    int count = 0;
    ForEachNamedEntry(path, type, [&](acl_tag_t, id_t, unsigned) { ++count; });
    return count;
}

_RUNRESULT RunBrenlockBinary(const std::vector<std::string>& args, const std::function<void()>& beforeExec)
{
    _RUNRESULT result;
    int fds[2];
    if (pipe(fds) != 0)
        return result;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        if (beforeExec)
            beforeExec();
        std::vector<char*> argv;
        std::string program = BRENLOCK_PATH;
        argv.push_back(program.data());
        std::vector<std::string> copies(args);
        for (auto& arg : copies)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
        result.out.append(buffer, size_t(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

bool SetImmutable(const std::string& path, bool on)
{
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    close(fd);
    return ok;
}

bool DropCapability(int cap)
{
    if (prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0)
        return false;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    const uint32_t bit = uint32_t(1) << (cap % 32);
    data[cap / 32].effective &= ~bit;
    data[cap / 32].permitted &= ~bit;
    data[cap / 32].inheritable &= ~bit;
    return syscall(SYS_capset, &header, data) == 0;
}
