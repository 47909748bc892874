// Where a WHOIS answer is shown: the lookup writes through this so any text widget can serve.
#pragma once

class QString;

namespace tarnwick {

class AnswerView {
public:
    virtual ~AnswerView() = default;
    // Replaces everything shown with `text`.
    virtual void SetText(const QString& text) = 0;
    // `whole` is everything that should be shown and ends with `piece`, the part that is new.
    // A view that still shows the rest adds only `piece`.
    virtual void Append(const QString& piece, const QString& whole) = 0;
};

} // namespace tarnwick
