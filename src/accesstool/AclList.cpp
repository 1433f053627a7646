#include "accesstool/AclList.h"

#include <cerrno>

namespace {
bool IsEntryOf(acl_entry_t entry, const CAccount& account)
{
    acl_tag_t tag;
    if (acl_get_tag_type(entry, &tag) != 0 || tag != account.Tag())
        return false;
    auto* qualifier = static_cast<id_t*>(acl_get_qualifier(entry));
    if (!qualifier)
        return false;
    const bool same = *qualifier == account.Id();
    acl_free(qualifier);
    return same;
}

// The first entry of the account, or nothing.
bool FindEntry(acl_t acl, const CAccount& account, acl_entry_t& found)
{
    acl_entry_t entry;
    for (int rc = acl_get_entry(acl, ACL_FIRST_ENTRY, &entry); rc == 1;
         rc = acl_get_entry(acl, ACL_NEXT_ENTRY, &entry)) {
        if (IsEntryOf(entry, account)) {
            found = entry;
            return true;
        }
    }
    return false;
}
} // namespace

CAclList& CAclList::operator=(CAclList&& other) noexcept
{
    if (this != &other) {
        if (acl_)
            acl_free(acl_);
        acl_ = std::exchange(other.acl_, nullptr);
    }
    return *this;
}

CAclList::~CAclList()
{
    if (acl_)
        acl_free(acl_);
}

bool CAclList::CopyFrom(const CAclList& other)
{
    acl_t copy = acl_dup(other.acl_);
    if (!copy)
        return false;
    *this = CAclList(copy);
    return true;
}

bool CAclList::IsEmpty() const
{
    acl_entry_t entry;
    return acl_get_entry(acl_, ACL_FIRST_ENTRY, &entry) != 1;
}

bool CAclList::HasEntry(const CAccount& account) const
{
    acl_entry_t entry;
    return FindEntry(acl_, account, entry);
}

bool CAclList::RemoveEntries(const CAccount& account)
{
    // Deleting while iterating is not promised to work; start over each time.
    acl_entry_t entry;
    while (FindEntry(acl_, account, entry)) {
        if (acl_delete_entry(acl_, entry) != 0)
            return false;
    }
    return true;
}

bool CAclList::AddBaseEntriesOf(const CAclList& access)
{
    acl_entry_t entry;
    for (int rc = acl_get_entry(access.acl_, ACL_FIRST_ENTRY, &entry); rc == 1;
         rc = acl_get_entry(access.acl_, ACL_NEXT_ENTRY, &entry)) {
        acl_tag_t tag;
        if (acl_get_tag_type(entry, &tag) != 0)
            return false;
        if ((tag == ACL_USER_OBJ || tag == ACL_GROUP_OBJ || tag == ACL_OTHER) && !AddCopyOf(entry))
            return false;
    }
    return true;
}

bool CAclList::AddCopyOf(acl_entry_t source)
{
    acl_entry_t entry;
    return acl_create_entry(&acl_, &entry) == 0 && acl_copy_entry(entry, source) == 0;
}

bool CAclList::AddEntry(const CAccount& account, unsigned perms)
{
    acl_entry_t entry;
    acl_permset_t permset;
    id_t id = account.Id();
    if (acl_create_entry(&acl_, &entry) != 0 || acl_set_tag_type(entry, account.Tag()) != 0 ||
        acl_set_qualifier(entry, &id) != 0 || acl_get_permset(entry, &permset) != 0 ||
        acl_clear_perms(permset) != 0)
        return false;
    for (acl_perm_t perm : {ACL_READ, ACL_WRITE, ACL_EXECUTE}) {
        if ((perms & perm) && acl_add_perm(permset, perm) != 0)
            return false;
    }
    return acl_set_permset(entry, permset) == 0 && acl_calc_mask(&acl_) == 0;
}
