#include "AuthorizeApplication.h"

#include "TRegistry.h"

namespace qrv {

namespace {

constexpr const char* AuthorizedListKey =
    "\\SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy\\StandardProfile\\"
    "AuthorizedApplications\\List";

} // namespace

bool AuthorizeApplication(const std::string& name, const std::string& path)
{
    try {
        TRegistry registry;
        if (!registry.OpenKey(AuthorizedListKey, true))
            return false;
        const std::optional<std::string> existing = registry.ReadString(path);
        if (existing && !existing->empty())
            return true;
        return registry.WriteString(path, path + ":*:Enabled:" + name);
    } catch (...) {
        return false;
    }
}

} // namespace qrv
