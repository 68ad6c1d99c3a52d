#pragma once

#include "fetch/credits_file.h"
#include "fetch/folder_pictures.h"

#include <QString>

// The credit written into a kept picture, as XMP, where photo managers and image search engines read
// it: dc:title, dc:creator, dc:rights (the credit line), xmpRights:WebStatement (the licence's
// address), xmpRights:Marked (False for the public domain and CC0, True for another licence),
// photoshop:Credit ("creator / source"), plus:Licensor[1]/plus:LicensorURL (the source page) and
// Iptc4xmpCore:CreatorContactInfo/CiUrlWork (the creator's page); fields the credits do not know
// are left as the picture has them, the picture's other metadata stays.
//
//     const EmbeddedCredits::Outcome outcome = EmbeddedCredits::write(keptPath, line);
//     pictures.add(keptPath, outcome.asArrived);      // FolderPictures: copies are still found
//     if (!outcome.note.isEmpty()) ... the result's details name it ...
//
// The picture is read by this program (never through a link, at most LargestPictureBytes) and given
// to exiv2 in memory; the credited copy is written to a hidden file beside it and renamed over it,
// so that the picture is whole at every moment, and only when the name still holds the picture
// that was read. A picture exiv2 cannot read or write stays as it was.
namespace EmbeddedCredits {

// The largest picture credits are written into; a larger one keeps only the credits list.
inline constexpr qint64 LargestPictureBytes = 32 * 1024 * 1024;

// Whether a picture of the content's kind (PictureType's extension) takes credits: JPEG, PNG, WebP
// and TIFF.
bool takesCredits(const QString& contentExtension);

struct Outcome {
    bool written = false;
    // What the result's details say: "" when the credits were written;
    // "only the credits list: credits are not written into GIF pictures" for the other kinds;
    // "credits not written into the picture: REASON" when they could not be.
    QString note;
    // When written: the picture's bytes as they arrived (the folder's list of originals has them too).
    FolderPictures::Original asArrived;
};

// Writes the credits of `line` (CreditsFile::attribution as dc:rights) into the picture at `picture`.
Outcome write(const QString& picture, const CreditsFile::Line& line);

} // namespace EmbeddedCredits
