#pragma once

#include <QValidator>

#include <limits>

namespace corvex {

// Keeps a text field within its slot of the pilot-data record: an edit (typed or
// pasted) is refused, and the field keeps its text, when the whole new text would be
// longer than the maximum. A character the instrument cannot store (outside ASCII, or
// NUL) is let in but leaves the text unacceptable, so that the sheet can point at it
// instead of dropping it unseen.
class MaxLengthFormatter final : public QValidator {
    Q_OBJECT

public:
    explicit MaxLengthFormatter(QObject* parent = nullptr);
    MaxLengthFormatter(int maxLength, QObject* parent);

    static MaxLengthFormatter* formatterWithLength(int length, QObject* parent);

    int maximumLength() const { return m_maxLength; }
    void setMaximumLength(int length) { m_maxLength = length; }

    // Within the maximum and storable throughout.
    bool isPartialStringValid(const QString& partialString) const;
    // The characters of the text the instrument cannot store, each once, in order.
    static QString unstorableCharacters(const QString& text);
    State validate(QString& input, int& position) const override;

private:
    int m_maxLength { std::numeric_limits<int>::max() };
};

} // namespace corvex
