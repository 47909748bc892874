// Where a WHOIS answer is shown: the lookup writes through this so any text widget can serve.
#pragma once

#include <QStringView>

class QString;

namespace tarnwick {

class AnswerView {
public:
    virtual ~AnswerView() = default;
    // Replaces everything shown with `text`.
    virtual void SetText(const QString& text) = 0;
    // Adds `piece` at the end. `before` is everything that should be shown ahead of it: a view
    // that still shows exactly that adds only `piece`, one that does not shows both anew. A view,
    // not a copy, so that a line under megabytes of answer costs no copy of them.
    virtual void Append(const QString& piece, QStringView before) = 0;
};

} // namespace tarnwick
