#pragma once

#include <QString>
#include <QVector>

#include <array>
#include <optional>

// Which pictures a user may use: the licence choice, and what a picture's licence allows.
//
//     query.licence = Sources::licenceFromStoredName(stored);    // "commercial"
//     ... source->read(...) sets each result's licenceFits for query.licence ...
//     (source.h: Sources::honours(source, choice) and sourcesHonouring(choice))
namespace Sources {

enum class LicenceChoice {
    Any,        // every picture, whatever its licence
    Commercial, // commercial use allowed
    Modify,     // commercial use and changes allowed
    NoCredit,   // commercial use and changes allowed without credit: public domain, CC0 and the like
};

// Every choice, in the order the key dialog lists them.
inline constexpr std::array<LicenceChoice, 4> AllLicenceChoices = {
    LicenceChoice::Any, LicenceChoice::Commercial, LicenceChoice::Modify, LicenceChoice::NoCredit};

// The label beside the licence choice in the key dialog.
inline constexpr char LicenceChoiceLabel[] = "Pictures I may use:";

// The name stored in the settings ("any", "commercial", "modify", "nocredit").
QString storedName(LicenceChoice choice);

// The choice a stored name means, exactly as stored; nothing for an unknown name.
std::optional<LicenceChoice> licenceNamed(const QString& name);

// The same, with an empty or unknown name meaning `any`, so that settings written before there was
// a choice keep every picture.
LicenceChoice licenceFromStoredName(const QString& name);

// The caption in the key dialog ("Any licence", "Commercial use", "Commercial use and changes",
// "No credit needed").
QString caption(LicenceChoice choice);

// What a picture's licence allows, as far as the source tells it.
struct LicenceTerms {
    bool known = false; // the source named the licence; nothing below holds without it
    bool commercial = false;
    bool changes = false;
    bool noCredit = false;
};

// The terms of a licence code as Openverse and Commons write it ("by-nc-sa", "cc-by-sa-4.0", "cc0",
// "pd"): "nc" forbids commercial use, "nd" changes; CC0 and the public domain ask for no credit.
// An empty code is not known.
LicenceTerms termsOfCode(const QString& code);

// Whether a picture under `terms` fits the choice; every picture fits `any`.
bool fits(LicenceChoice choice, const LicenceTerms& terms);

} // namespace Sources
