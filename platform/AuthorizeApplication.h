#pragma once

// Putting a program on the list of programs allowed through the firewall.
//
// The list is a registry key of the current user (TRegistry):
//
//   SYSTEM\CurrentControlSet\Services\SharedAccess\Parameters\FirewallPolicy
//       \StandardProfile\AuthorizedApplications\List
//     <program path>   string   "<program path>:*:Enabled:<name>"
//
// Linux has no firewall manager that takes a program rather than a port, and the player's
// audio server listens on the loopback address only, so nothing else is needed for the
// mixer to reach it: the list is kept for the record, and the firewall-manager step of the
// Windows program has no counterpart here.

#include <string>

namespace qrv {

// Writes the entry for `path` unless the list already holds a non-empty one for it, whatever
// name that one carries. True when the entry exists afterwards (written now or before);
// false when the key or the value could not be opened or written. Never throws.
bool AuthorizeApplication(const std::string& name, const std::string& path);

} // namespace qrv
