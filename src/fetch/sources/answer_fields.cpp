#include "fetch/sources/answer_fields.h"

#include "fetch/limits.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <cmath>

namespace AnswerFields {

namespace {

// 2^53: every whole number up to it has an exact double.
constexpr double LargestWholeNumber = 9007199254740992.0;

// The longest entity name or number read in an HTML fragment ("&#x10FFFF;").
constexpr int EntityChars = 10;

// Cuts without splitting a surrogate pair.
QString cut(QString text, int maxChars) {
    if (text.size() <= maxChars)
        return text;
    int end = maxChars;
    if (end > 0 && text.at(end - 1).isHighSurrogate())
        --end;
    text.truncate(end);
    return text;
}

bool isAsciiLetterOrDigit(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9');
}

// A bare extension: 1 to 5 ASCII letters or digits, in lower case; else "".
QString bareExtension(const QString& text) {
    if (text.isEmpty() || text.size() > 5)
        return {};
    for (const QChar c : text)
        if (!isAsciiLetterOrDigit(c))
            return {};
    return text.toLower();
}

// The host part of an address after "scheme://": what comes before the first "/", "?" or "#",
// without a user name.
bool hasSoundHost(const QString& address, qsizetype hostStart) {
    qsizetype end = hostStart;
    while (end < address.size() && address.at(end) != QLatin1Char('/') &&
           address.at(end) != QLatin1Char('?') && address.at(end) != QLatin1Char('#'))
        ++end;
    const QStringView authority = QStringView(address).mid(hostStart, end - hostStart);
    const qsizetype at = authority.lastIndexOf(QLatin1Char('@'));
    const QStringView host = at < 0 ? authority : authority.mid(at + 1);
    if (host.isEmpty() || host.startsWith(QLatin1Char(':')))
        return false;
    for (const QChar c : host) {
        const char16_t u = c.unicode();
        const bool fits = isAsciiLetterOrDigit(c) || u == '.' || u == '-' || u == '_' || u == ':' ||
                          u == '[' || u == ']' || u > 0x7F;
        if (!fits)
            return false;
    }
    return true;
}

// The decoded text of one entity's name or number ("amp", "#39", "#x2F"); "" when unknown.
QString entity(QStringView name) {
    if (name.startsWith(QLatin1Char('#'))) {
        bool ok = false;
        const bool hex =
            name.size() > 1 && (name.at(1) == QLatin1Char('x') || name.at(1) == QLatin1Char('X'));
        const uint code = hex ? name.mid(2).toUInt(&ok, 16) : name.mid(1).toUInt(&ok, 10);
        if (!ok || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return {};
        const char32_t point = code;
        return QString::fromUcs4(&point, 1);
    }
    static const struct {
        const char* name;
        char16_t text;
    } named[] = {{"amp", u'&'}, {"lt", u'<'}, {"gt", u'>'}, {"quot", u'"'}, {"apos", u'\''}, {"nbsp", u' '}};
    for (const auto& n : named)
        if (name == QLatin1String(n.name))
            return QString(QChar(n.text));
    return {};
}

// Reads the answer's structure: which container each byte is in and which keys lead there.
class ListCutter {
public:
    ListCutter(const QByteArray& answer, std::initializer_list<QByteArrayView> path, int keep)
        : text_(answer)
        , path_(path)
        , keep_(keep) {}

    // The answer with the list cut, or the whole answer.
    QByteArray cut(int* dropped) {
        *dropped = 0;
        const char* p = text_.constData();
        const qsizetype n = text_.size();
        for (qsizetype i = 0; i < n; ++i) {
            const char c = p[i];
            if (c == '"') {
                const qsizetype start = i + 1;
                for (i = start; i < n && p[i] != '"'; ++i)
                    if (p[i] == '\\')
                        ++i;
                if (i >= n)
                    return text_;
                key(QByteArrayView(p + start, i - start));
            } else if (c == '{' || c == '[') {
                if (!open(c))
                    return text_;
            } else if (c == '}' || c == ']') {
                if (depth_ == listDepth_ && c == ']') {
                    if (cutAt_ < 0)
                        return text_;
                    *dropped = commas_ + 1 - keep_;
                    return text_.left(cutAt_) + text_.mid(i);
                }
                if (!close(c))
                    return text_;
            } else if (c == ',') {
                if (depth_ == listDepth_ && ++commas_ == keep_)
                    cutAt_ = i;
                expectKey_ = depth_ > 0 && stack_[depth_ - 1] == '{';
                nextMatches_ = false;
            } else if (c == ':') {
                expectKey_ = false;
            }
        }
        return text_;
    }

private:
    static constexpr int MaxDepth = 64;

    void key(QByteArrayView name) {
        if (expectKey_ && listDepth_ < 0 && depth_ == matched_ + 1 && matched_ < int(path_.size()))
            nextMatches_ = name == path_.begin()[matched_];
    }

    bool open(char c) {
        if (depth_ == MaxDepth)
            return false;
        if (nextMatches_) {
            nextMatches_ = false;
            if (matched_ + 1 == int(path_.size())) {
                if (c != '[')
                    return false;
                listDepth_ = depth_ + 1;
            } else if (c == '{') {
                ++matched_;
            } else {
                return false;
            }
        }
        stack_[depth_++] = c;
        expectKey_ = c == '{';
        return true;
    }

    bool close(char c) {
        if (depth_ == 0 || stack_[depth_ - 1] != (c == '}' ? '{' : '['))
            return false;
        --depth_;
        matched_ = qMin(matched_, qMax(0, depth_ - 1)); // left an object the path went through
        expectKey_ = false;
        nextMatches_ = false;
        return true;
    }

    const QByteArray& text_;
    std::initializer_list<QByteArrayView> path_;
    int keep_;
    char stack_[MaxDepth] = {};
    int depth_ = 0;
    bool expectKey_ = false;
    bool nextMatches_ = false; // the key just read is the next one of the path
    int matched_ = 0;          // keys of the path matched by the objects now open
    int listDepth_ = -1;       // the depth inside the list, once it is found
    int commas_ = 0;           // entries of the list after its first
    qsizetype cutAt_ = -1;     // the comma after the last entry kept
};

} // namespace

bool isControl(char16_t c) {
    // C0 and C1 controls (ESC and CSI begin terminal commands), DEL, the line and paragraph
    // separators, and the bidirectional formatting characters, which make a text read otherwise
    // than it is written.
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 || c == 0x061C || c == 0x200E ||
           c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

QByteArray leadingEntries(const QByteArray& answer, std::initializer_list<QByteArrayView> path, int keep,
                          int* dropped) {
    return ListCutter(answer, path, keep).cut(dropped);
}

bool parseObject(const QByteArray& answer, QJsonObject* object) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(answer, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return false;
    *object = document.object();
    return true;
}

// Most texts are clean already: no control characters and no white space to fold.
bool isClean(const QString& text) {
    char16_t previous = u' ';
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (isControl(u) || (u == u' ' && previous == u' ') || (u > 0x7F && c.isSpace()))
            return false;
        previous = u;
    }
    return previous != u' ' || text.isEmpty();
}

QString cleanText(const QString& text, int maxChars) {
    if (isClean(text))
        return cut(text, maxChars);
    QString out = text;
    for (QChar& c : out)
        if (isControl(c.unicode()))
            c = QLatin1Char(' ');
    return cut(out.simplified(), maxChars);
}

QString text(const QJsonValue& value) {
    return value.isString() ? cleanText(value.toString(), Limits::AnswerTextChars) : QString();
}

QString htmlText(const QString& html) {
    QString out;
    out.reserve(qMin(html.size(), qsizetype(Limits::AnswerTextChars) * 2));
    bool inTag = false;
    for (qsizetype i = 0; i < html.size(); ++i) {
        const QChar c = html.at(i);
        if (inTag) {
            inTag = c != QLatin1Char('>');
        } else if (c == QLatin1Char('<')) {
            inTag = true;
        } else if (c == QLatin1Char('&')) {
            const qsizetype end = html.indexOf(QLatin1Char(';'), i + 1);
            const QString decoded = end > i + 1 && end - i - 1 <= EntityChars
                                        ? entity(QStringView(html).mid(i + 1, end - i - 1))
                                        : QString();
            if (decoded.isEmpty()) {
                out += c;
            } else {
                out += decoded;
                i = end;
            }
        } else {
            out += c;
        }
        if (out.size() > qsizetype(Limits::AnswerTextChars) * 2)
            break; // enough for the cut below, however long the fragment
    }
    return cleanText(out, Limits::AnswerTextChars);
}

QString address(const QJsonValue& value) {
    if (!value.isString())
        return {};
    QString text = value.toString().trimmed();
    if (text.startsWith(QLatin1String("//")))
        text.prepend(QLatin1String("https:"));
    if (text.isEmpty() || text.size() > Limits::AnswerAddressChars)
        return {};
    qsizetype hostStart = 0;
    if (text.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        hostStart = 8;
    else if (text.startsWith(QLatin1String("http://"), Qt::CaseInsensitive))
        hostStart = 7;
    else
        return {};
    for (const QChar c : text)
        if (c.unicode() <= 0x20 || isControl(c.unicode()) || c == QLatin1Char('\\'))
            return {};
    return hasSoundHost(text, hostStart) ? text : QString();
}

std::optional<qint64> wholeNumber(const QJsonValue& value) {
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!std::isfinite(number) || number < 0 || number > LargestWholeNumber || std::floor(number) != number)
        return std::nullopt;
    return static_cast<qint64>(number);
}

qint32 side(const QJsonValue& value) {
    const std::optional<qint64> number = wholeNumber(value);
    return number && *number >= 1 && *number <= Limits::PictureSidePixels ? static_cast<qint32>(*number) : 0;
}

qint64 count(const QJsonValue& value) {
    return wholeNumber(value).value_or(-1);
}

QString extensionOfAddress(const QString& address) {
    qsizetype end = address.size();
    for (const QChar stop : {QLatin1Char('?'), QLatin1Char('#')}) {
        const qsizetype at = address.indexOf(stop);
        if (at >= 0 && at < end)
            end = at;
    }
    const QStringView path = QStringView(address).left(end);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    // "https://host" has no path: its dots belong to the host name.
    const qsizetype schemeEnd = address.indexOf(QLatin1String("://"));
    if (dot < 0 || dot < slash || slash <= schemeEnd + 2)
        return {};
    return bareExtension(path.mid(dot + 1).toString());
}

QString extension(const QJsonValue& value) {
    return value.isString() ? bareExtension(value.toString().trimmed()) : QString();
}

QString imageType(const QJsonValue& value) {
    if (!value.isString())
        return {};
    const QString type = value.toString().trimmed().toLower();
    if (!type.startsWith(QLatin1String("image/")) || type.size() > 64 || type.size() == 6)
        return {};
    for (const QChar c : QStringView(type).mid(6))
        if (!isAsciiLetterOrDigit(c) && c != QLatin1Char('.') && c != QLatin1Char('+') &&
            c != QLatin1Char('-'))
            return {};
    return type;
}

QString extensionOfType(const QString& mimeType) {
    static const struct {
        const char* type;
        const char* extension;
    } known[] = {{"image/jpeg", "jpg"},  {"image/png", "png"},   {"image/gif", "gif"},
                 {"image/webp", "webp"}, {"image/tiff", "tif"},  {"image/bmp", "bmp"},
                 {"image/x-xcf", "xcf"}, {"image/avif", "avif"}, {"image/svg+xml", "svg"}};
    for (const auto& k : known)
        if (mimeType == QLatin1String(k.type))
            return QString::fromLatin1(k.extension);
    return {};
}

QString message(const QString& text) {
    return cleanText(text, Limits::ServiceMessageChars);
}

QString plainTextMessage(const QByteArray& answer) {
    const QByteArray head = answer.left(Limits::ServiceMessageChars * 4);
    const QByteArray trimmed = head.trimmed();
    if (trimmed.startsWith('<') || trimmed.contains('\0'))
        return {};
    const qsizetype lineEnd = trimmed.indexOf('\n');
    return message(QString::fromUtf8(lineEnd < 0 ? trimmed : trimmed.left(lineEnd)));
}

bool isFailure(int httpStatus) {
    return httpStatus >= 400;
}

qsizetype readableEntries(const QJsonArray& entries, Sources::SourceAnswer* answer) {
    const qsizetype readable = qMin(entries.size(), qsizetype(Limits::AnswerResults));
    answer->skipped += int(entries.size() - readable);
    return readable;
}

Sources::SourceAnswer errorAnswer(const QString& text) {
    Sources::SourceAnswer answer;
    answer.kind = Sources::SourceAnswer::Kind::Error;
    answer.message = message(text);
    return answer;
}

} // namespace AnswerFields
