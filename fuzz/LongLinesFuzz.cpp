// Fuzzes the text handed to the answer box: text in pieces the input chooses comes out as the
// text itself with line feeds added (and the LF of a CR LF that a piece boundary split left out,
// each line separator a line feed), no line passes the limit, and no line feed falls between the
// halves of a surrogate pair.
#include "fuzz/Require.h"
#include "whois/AnswerLines.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>

using tarnwick::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    // Mostly plain letters, so lines get long; the rest any code unit, surrogates included.
    QString text;
    while (input.remaining_bytes() > 0 && text.size() < 8 * tarnwick::kLongestShownLine) {
        const auto repeat = input.ConsumeIntegralInRange<int>(1, 600);
        text += QString(repeat, QChar(input.ConsumeIntegral<char16_t>()));
    }
    const auto piece = std::max<qsizetype>(1, input.ConsumeIntegralInRange<qsizetype>(0, 3000));

    // In pieces as the box is handed them: a surrogate pair is never split.
    QString broken;
    QString expected;
    tarnwick::ShownLines shown;
    for (qsizetype at = 0, end = 0; at < text.size(); at = end) {
        end = std::min(at + piece, text.size());
        if (end < text.size() && text[end - 1].isHighSurrogate() && text[end].isLowSurrogate())
            ++end;
        broken += shown.Next(QStringView(text).sliced(at, end - at));
        const qsizetype splitCrLf = at > 0 && text[at - 1] == u'\r' && text[at] == u'\n';
        expected += QStringView(text).sliced(at + splitCrLf, end - at - splitCrLf);
    }
    expected.replace(QChar::LineSeparator, u'\n');

    qsizetype from = 0;
    qsizetype line = 0;
    for (qsizetype at = 0; at < broken.size(); ++at) {
        const QChar character = broken[at];
        if (from < expected.size() && character == expected[from]) {
            ++from;
        } else {
            Require(character == u'\n', "a character was changed, dropped or added");
            Require(!(at + 1 < broken.size() && broken[at + 1].isLowSurrogate() && at > 0 &&
                      broken[at - 1].isHighSurrogate()),
                    "a line feed split a surrogate pair");
        }
        line = tarnwick::EndsLine(character) ? 0 : line + 1;
        // One more where the line's last unit is the second half of a pair.
        Require(line <= tarnwick::kLongestShownLine ||
                    (line == tarnwick::kLongestShownLine + 1 && character.isLowSurrogate() &&
                     broken[at - 1].isHighSurrogate()),
                "a line passes the limit");
    }
    Require(from == expected.size(), "text was dropped");
    return 0;
}
