#pragma once

#include "keywords/event_pump.h"
#include "keywords/input_limits.h"

#include <QXmlStreamReader>

// The XML reader of the workbook parts. It walks in a loop with a depth count and stops with an
// error at nesting deeper than InputLimits::MaxXmlDepth, so no input drives a recursion; a document
// type declaration (the only way to declare entities) is refused, so no entity is ever expanded.
// It hides QXmlStreamReader's readNext(), skipCurrentElement() and readElementText() with versions
// that keep the count. A part of hundreds of megabytes takes seconds: every few thousand tokens
// the window's events are processed, so it stays alive, and the program's end (the window closed,
// Ctrl-C) stops the reading with ProgramEnding.
class BoundedXml : public QXmlStreamReader {
public:
    explicit BoundedXml(QIODevice* device)
        : QXmlStreamReader(device) {}

    TokenType readNext() {
        if (++sincePoll_ == PollEvery) {
            sincePoll_ = 0;
            pump_.poll();
        }
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
    static constexpr int PollEvery = 4096;
    int depth_ = 0;
    int sincePoll_ = 0;
    List::EventPump pump_;
};
