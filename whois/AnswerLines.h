// How a WHOIS answer's text falls into lines: the one rule of what ends a line, read a piece at
// a time, and the text as a text box must be handed it.
#pragma once

#include <QChar>
#include <QString>
#include <QStringView>

#include <utility>

namespace tarnwick {

// A text widget lays out a whole line again whenever it grows, so an endless line would cost
// more with every piece; lines longer than this are shown broken into lines of this length.
inline constexpr qsizetype kLongestShownLine = 1024;

// The characters that end a line: for the line limit, the referral scanner and the box alike.
bool EndsLine(QChar character);

// Where the lines of a text handed in pieces end. A CR LF ends one line, also when a piece ends
// between the two: its LF is then the tail of a line end already counted.
class LineEnds {
public:
    enum class Kind { Text, LineEnd, CrLfTail };

    // Reads the next character of the text.
    Kind Read(QChar character) {
        const bool tail = std::exchange(afterCr_, character == u'\r') && character == u'\n';
        return tail ? Kind::CrLfTail : EndsLine(character) ? Kind::LineEnd : Kind::Text;
    }

private:
    bool afterCr_ = false;
};

// Pieces of a text as a text box must be handed them to show the whole text: without the LF of
// a CR LF that a piece boundary split (the box would break the line again), a line feed for each
// line separator, and a line feed wherever a line would pass kLongestShownLine characters, never
// between the halves of a surrogate pair. Pieces must not split a pair; a new text starts with a
// new ShownLines.
class ShownLines {
public:
    QString Next(QStringView piece);

private:
    LineEnds lineEnds_;
    qsizetype lineLength_ = 0;
};

} // namespace tarnwick
