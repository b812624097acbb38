#include "AplayListUnit.h"

#include <algorithm>

namespace qrv {

namespace {

// Entries are compared without regard to case, as the list has always done; they hold
// only digits, so that comes down to plain equality.
void Remove(std::vector<std::string>& items, const std::string& key)
{
    const auto found = std::find(items.begin(), items.end(), key);
    if (found != items.end()) {
        items.erase(found);
    }
}

} // namespace

void TAplayList::AddPlayer(uint32_t handle)
{
    const std::string key = std::to_string(handle);
    Remove(m_items, key);
    m_items.push_back(key);
}

void TAplayList::RemovePlayer(uint32_t handle)
{
    Remove(m_items, std::to_string(handle));
}

TAplayList& AplayList()
{
    static TAplayList list;
    return list;
}

} // namespace qrv
