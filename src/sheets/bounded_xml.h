#pragma once

#include "keywords/input_limits.h"

#include <QXmlStreamReader>

// The XML reader of the workbook parts. It walks in a loop with a depth count and stops with an
// error at nesting deeper than InputLimits::MaxXmlDepth, so no input drives a recursion; a document
// type declaration (the only way to declare entities) is refused, so no entity is ever expanded.
// It hides QXmlStreamReader's readNext(), skipCurrentElement() and readElementText() with versions
// that keep the count.
class BoundedXml : public QXmlStreamReader {
public:
    explicit BoundedXml(QIODevice* device)
        : QXmlStreamReader(device) {}

    TokenType readNext() {
        const TokenType type = QXmlStreamReader::readNext();
        if (type == StartElement) {
            if (++depth_ > InputLimits::MaxXmlDepth)
                raiseError(
                    QStringLiteral("elements nested deeper than %1 levels").arg(InputLimits::MaxXmlDepth));
        } else if (type == EndElement) {
            --depth_;
        } else if (type == DTD) {
            raiseError(QStringLiteral("a document type declaration"));
        }
        return type;
    }

    // Reads up to and including the end of the current element.
    void skipCurrentElement() {
        const int end = depth_ - 1;
        while (!atEnd() && depth_ > end)
            readNext();
    }

    // The text of the current element and of every element inside it; ends on its end element.
    QString readElementText() {
        QString text;
        const int end = depth_ - 1;
        while (!atEnd() && depth_ > end) {
            readNext();
            if (isCharacters())
                text += this->text();
        }
        return text;
    }

    int depth() const { return depth_; }

private:
    int depth_ = 0;
};
