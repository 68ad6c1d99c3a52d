#pragma once

#include <QString>
#include <QtGlobal>

namespace CurlFunctions {

// One result of an answer as the run keeps it: what is downloaded, under which extension, and the
// sizes the filters look at.
struct ImageResult {
    QString address;         // after clean-up ("\/" -> "/", double quotes removed)
    QString stem;            // StripExtension(address)
    QString extension;       // after the last ".", cut before "?" and before "&fm="
    QString downloadAddress; // stem "." extension
    // Pixel sizes. A result whose size is not found keeps the value it had (the previous result's);
    // the run starts them at 0.
    qint32 width = 0;
    qint32 height = 0;
    // Set when the size text was found but is not a number (or beyond 32 bits): the description
    // ("Type mismatch", "Overflow") for the run's error box; the size then kept its value.
    QString widthError;
    QString heightError;
};

} // namespace CurlFunctions
