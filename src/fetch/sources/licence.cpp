#include "fetch/sources/licence.h"

#include <QRegularExpression>

namespace Sources {

namespace {

struct Description {
    LicenceChoice choice;
    const char* storedName;
    const char* caption;
};

const Description Descriptions[] = {
    {LicenceChoice::Any, "any", "Any licence"},
    {LicenceChoice::Commercial, "commercial", "Commercial use"},
    {LicenceChoice::Modify, "modify", "Commercial use and changes"},
    {LicenceChoice::NoCredit, "nocredit", "No credit needed"},
};

const Description& describe(LicenceChoice choice) {
    for (const Description& d : Descriptions)
        if (d.choice == choice)
            return d;
    return Descriptions[0];
}

} // namespace

QString storedName(LicenceChoice choice) {
    return QString::fromLatin1(describe(choice).storedName);
}

std::optional<LicenceChoice> licenceNamed(const QString& name) {
    for (const Description& d : Descriptions)
        if (name == QLatin1String(d.storedName))
            return d.choice;
    return std::nullopt;
}

LicenceChoice licenceFromStoredName(const QString& name) {
    return licenceNamed(name).value_or(LicenceChoice::Any);
}

QString caption(LicenceChoice choice) {
    return QString::fromLatin1(describe(choice).caption);
}

LicenceTerms termsOfCode(const QString& code) {
    const QString lower = code.trimmed().toLower();
    if (lower.isEmpty())
        return {};
    static const QRegularExpression separators(QStringLiteral("[-_ ]+"));
    const QStringList parts = lower.split(separators, Qt::SkipEmptyParts);
    const QString first = parts.value(0);
    // CC0 ("cc0", "cc-zero") and the public domain ("pd", "pdm", "public domain", "pd-old-70").
    if (parts.contains(QLatin1String("cc0")) || parts.contains(QLatin1String("zero")) ||
        first == QLatin1String("pd") || first == QLatin1String("pdm") ||
        first == QLatin1String("publicdomain") ||
        (first == QLatin1String("public") && parts.value(1) == QLatin1String("domain")))
        return {true, true, true, true};
    // Both sources carry free licences only (CC, GFDL, FAL, ...): what is not held back by "nc" or
    // "nd" may be used commercially and changed, with credit.
    return {true, !parts.contains(QLatin1String("nc")), !parts.contains(QLatin1String("nd")), false};
}

bool fits(LicenceChoice choice, const LicenceTerms& terms) {
    switch (choice) {
    case LicenceChoice::Any:
        return true;
    case LicenceChoice::Commercial:
        return terms.known && terms.commercial;
    case LicenceChoice::Modify:
        return terms.known && terms.commercial && terms.changes;
    case LicenceChoice::NoCredit:
        return terms.known && terms.commercial && terms.changes && terms.noCredit;
    }
    return false;
}

} // namespace Sources
