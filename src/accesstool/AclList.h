#pragma once
// One POSIX ACL held in memory and edited entry by entry.

#include "accesstool/Account.h"

#include <sys/acl.h>
#include <utility>

class CAclList {
public:
    CAclList() = default;
    explicit CAclList(acl_t acl) : acl_(acl) {}
    CAclList(CAclList&& other) noexcept : acl_(std::exchange(other.acl_, nullptr)) {}
    CAclList& operator=(CAclList&& other) noexcept;
    CAclList(const CAclList&) = delete;
    CAclList& operator=(const CAclList&) = delete;
    ~CAclList();

    bool IsValid() const { return acl_ != nullptr; }
    acl_t Get() const { return acl_; }

    // All of these return false with errno on failure.
    bool CopyFrom(const CAclList& other);
    bool IsEmpty() const;
    bool HasEntry(const CAccount& account) const;
    bool RemoveEntries(const CAccount& account);
    // A default ACL starts from the owner, owning group and other entries of
    // the access ACL, as the kernel needs them.
    bool AddBaseEntriesOf(const CAclList& access);
    // Adds a named entry with the given ACL_READ/WRITE/EXECUTE bits and
    // recomputes the mask so that the entry takes effect.
    bool AddEntry(const CAccount& account, unsigned perms);

private:
    bool AddCopyOf(acl_entry_t source);

    acl_t acl_ = nullptr;
};
