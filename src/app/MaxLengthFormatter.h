#pragma once

#include <QValidator>

#include <limits>

namespace corvex {

// Keeps a text field within its slot of the pilot-data record: an edit (typed or
// pasted) is refused, and the field keeps its text, when the whole new text would be
// longer than the maximum or holds a character outside ASCII.
class MaxLengthFormatter final : public QValidator {
    Q_OBJECT

public:
    explicit MaxLengthFormatter(QObject* parent = nullptr);
    MaxLengthFormatter(int maxLength, QObject* parent);

    static MaxLengthFormatter* formatterWithLength(int length, QObject* parent);

    int maximumLength() const { return m_maxLength; }
    void setMaximumLength(int length) { m_maxLength = length; }

    bool isPartialStringValid(const QString& partialString) const;
    State validate(QString& input, int& position) const override;

private:
    int m_maxLength { std::numeric_limits<int>::max() };
};

} // namespace corvex
