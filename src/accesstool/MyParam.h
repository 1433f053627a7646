#pragma once
// The command line: BRENLOCK [/s] [/d | /f] [/x | /n] [/i=<Mask>] <Mask> <Name> <Files>

#include <cstdint>
#include <string>
#include <string_view>

class CMyParam {
public:
    enum EMode { AddOrReplace = 0, ReplaceOnly = 1, AddOnly = 2 };

    uint32_t accessMask = 0;
    bool deny = false;
    uint32_t inheritMask = 0; // 0: folders pass on the access mask
    std::string accountName;
    std::string pathPattern;
    bool filesEnabled = true;
    bool foldersEnabled = true;
    EMode mode = AddOrReplace;
    bool subfolders = false;
    int positionalCount = 0;
    bool invalid = false;
    std::string invalidText; // the first offending parameter, as given

    // argv[0] is the program name.
    void Parse(int argc, const char* const argv[]);
    void ParseParam(std::string_view param);
    // Refuses masks that would grant nothing: on POSIX such an entry denies.
    void Finish();

    // What the folders' default ACLs get.
    uint32_t EffectiveInheritMask() const { return inheritMask ? inheritMask : accessMask; }

private:
    static bool IsSlashFlag(std::string_view flag);
    bool ApplyFlag(std::string_view param); // param with its leading '/' or '-'
    void TakePositional(std::string_view param);
    void MarkInvalid(std::string_view param);

    std::string maskParam_;
    std::string inheritParam_;
};
