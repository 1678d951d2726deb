#pragma once

#include <QString>

#include <optional>

namespace calls {

// The number a sip: or tel: link names, as the number box takes it: from a sip: address the user
// part ("sip:+4930123@example.net;user=phone" -> "+4930123"), from a tel: address the number
// ("tel:+1-555-0100;phone-context=..." -> "+15550100"). Digits, '*' and '#' are kept, and a '+'
// that leads; the separators people write numbers with ('-', '.', ' ', '(', ')') are dropped, as
// are parameters after ';' and a password after ':'. Anything else (another scheme, a name
// rather than a number, a host without a user) gives nothing.
std::optional<QString> numberFromLink(const QString &link);

} // namespace calls
