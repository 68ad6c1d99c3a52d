#pragma once

#include <QByteArray>
#include <QString>

// The configuration text curl reads on its standard input with "-K -": how request headers, keys
// and addresses that carry keys reach curl without showing in the process list.
namespace CurlConfig {

// One quoted value of curl's configuration syntax, with backslashes and double quotes escaped so
// that no value can end itself or add an option. Line breaks (and NUL) are left out: curl would send
// them inside a header and so split it into two headers.
QByteArray quoted(const QString& value);

// One line `name = "value"` and its line feed ("header", "url", "user-agent").
QByteArray line(const char* name, const QString& value);

} // namespace CurlConfig
