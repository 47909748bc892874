// How a WHOIS answer's text falls into lines: what ends a line in a text box, and an endless
// line broken for showing.
#pragma once

#include <QChar>
#include <QString>
#include <QStringView>

namespace tarnwick {

// A text widget lays out a whole line again whenever it grows, so an endless line would cost
// more with every piece; lines longer than this are shown broken into lines of this length.
inline constexpr qsizetype kLongestShownLine = 1024;

// The characters that a text document turns into a paragraph break.
bool EndsLine(QChar character);

// `text` with a line feed wherever a line would pass kLongestShownLine characters, never
// between the halves of a surrogate pair; `lineLength` holds the length of the line that
// `text` continues and is updated. Text handed in pieces must not split a pair.
QString BreakLongLines(QStringView text, qsizetype& lineLength);

} // namespace tarnwick
