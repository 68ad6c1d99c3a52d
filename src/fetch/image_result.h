#pragma once

#include <QString>
#include <QtGlobal>

namespace CurlFunctions {

// One result of an answer as the run keeps it: what is downloaded, under which extension, and the
// sizes the filters look at.
struct ImageResult {
    QString address;   // as the answer gives it; the original service's after clean-up ("\/" -> "/",
                       // double quotes removed)
    QString stem;      // StripExtension(address)
    QString extension; // the original service's: after the last ".", cut before "?" and before "&fm="
    // What curl is asked for: the original service's is stem "." extension, a public source's the
    // address itself.
    QString downloadAddress;
    // Pixel sizes, 0 when unknown. A result of the original service whose size is not found keeps the
    // value it had (the previous result's); a run starts them at 0.
    qint32 width = 0;
    qint32 height = 0;
    // Set when the size text was found but is not a number (or beyond 32 bits): why ("Type
    // mismatch", "Overflow"). The size kept its value, and the run does not download the result.
    QString widthError;
    QString heightError;
};

} // namespace CurlFunctions
