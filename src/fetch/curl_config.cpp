#include "fetch/curl_config.h"

namespace CurlConfig {

QByteArray quoted(const QString& value) {
    QByteArray out("\"");
    for (const char byte : value.toUtf8()) {
        switch (byte) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
        case '\r':
            // curl would send a line break inside a header as it is, splitting the header in two;
            // no key, host or address holds one, so it is left out.
            break;
        case '\v':
            out += "\\v";
            break;
        case '\0':
            break; // a command line cannot carry it either
        default:
            out += byte;
        }
    }
    out += '"';
    return out;
}

QByteArray line(const char* name, const QString& value) {
    return QByteArray(name) + " = " + quoted(value) + '\n';
}

} // namespace CurlConfig
