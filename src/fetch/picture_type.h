#pragma once

#include <QByteArray>
#include <QString>

// What a downloaded file really is, judged by its content's signature, never by its name.
namespace PictureType {

// The extension that names a file of the content's type ("jpg", "png", "gif", "bmp", "webp",
// "tif", "ico", "avif", "heic", "jxl", "svg"), or "" when the content is not a picture. `head` is
// the file's first bytes (at least the first 32 where the file has them).
QString ofHead(const QByteArray& head);

// The same for a file. An SVG (XML whose root element is "svg") is read whole, as a stream, and is
// not a picture when it carries scripts (script elements, event attributes, "javascript:" links,
// however split by white space or character references, also in an animation's list of values),
// animations that change a link, embedded documents or a document type declaration. "" when the
// file cannot be read.
QString ofFile(const QString& path);

// True for the extensions of picture types, in any case: jpg, jpeg, png, gif, bmp, webp, tif,
// tiff, svg, ico, avif, heic, jxl.
bool isPictureExtension(const QString& extension);

// The extension a kept picture gets: the answer's own when it is a picture extension of the same
// type as the content (so "jpeg" and "JPG" stay as the service wrote them), else the content's.
QString extensionFor(const QString& answerExtension, const QString& contentExtension);

} // namespace PictureType
