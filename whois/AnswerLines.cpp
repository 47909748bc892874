// How a WHOIS answer's text falls into lines.
#include "whois/AnswerLines.h"

namespace tarnwick {

bool EndsLine(QChar character) {
    switch (character.unicode()) {
    case u'\n':
    case u'\r':
    case QChar::ParagraphSeparator:
    case 0xFDD0: // start of a frame
    case 0xFDD1: // end of a frame
        return true;
    default:
        return false;
    }
}

QString BreakLongLines(QStringView text, qsizetype& lineLength) {
    QString broken;
    qsizetype copied = 0;
    bool didBreak = false;
    for (qsizetype at = 0; at < text.size(); ++at) {
        const QChar character = text[at];
        if (EndsLine(character)) {
            lineLength = 0;
            continue;
        }
        const bool secondHalf =
            character.isLowSurrogate() && at > 0 && text[at - 1].isHighSurrogate();
        if (lineLength >= kLongestShownLine && !secondHalf) {
            broken += text.sliced(copied, at - copied);
            broken += u'\n';
            copied = at;
            lineLength = 0;
            didBreak = true;
        }
        ++lineLength;
    }
    if (!didBreak) {
        return text.toString();
    }
    broken += text.sliced(copied);
    return broken;
}

} // namespace tarnwick
