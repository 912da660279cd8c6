#include "booth/missing_photos.h"

#include <QRegularExpression>

#include <algorithm>
#include <set>

namespace {

// A file name split around its last run of digits.
struct NumberedName
{
    QString prefix;
    QString digits;
    QString suffix;
};

bool split_name(const QString& name, NumberedName& split)
{
    static const QRegularExpression numbered(QStringLiteral("^(.*?)([0-9]{1,9})([^0-9]*)$"));
    const QRegularExpressionMatch match = numbered.match(name);
    if (!match.hasMatch())
        return false;
    split = {match.captured(1), match.captured(2), match.captured(3)};
    return true;
}

} // namespace

QStringList probable_missing_photos(const QStringList& names, int cameras)
{
    const int missing = cameras - names.size();
    if (names.isEmpty() || missing <= 0)
        return {};
    std::vector<NumberedName> splits(names.size());
    for (int i = 0; i < names.size(); ++i) {
        if (!split_name(names[i], splits[i]) || splits[i].prefix != splits.front().prefix ||
            splits[i].suffix != splits.front().suffix)
            return {};
    }
    // Zero-padded numbers all have the padded width; unpadded ones never start
    // with a zero. A mix of both is no pattern ("cam1.jpg" beside "cam01.jpg").
    const int width = splits.front().digits.size();
    bool same_width = true;
    bool leading_zero = false;
    std::set<int> numbers;
    for (const NumberedName& split : splits) {
        same_width = same_width && split.digits.size() == width;
        leading_zero = leading_zero || (split.digits.size() > 1 && split.digits.startsWith('0'));
        numbers.insert(split.digits.toInt());
    }
    if ((leading_zero && !same_width) || int(numbers.size()) != names.size())
        return {};

    std::vector<int> absent;
    const int first = *numbers.begin();
    const int last = *numbers.rbegin();
    for (int number = first + 1; number < last; ++number) {
        if (!numbers.count(number))
            absent.push_back(number);
    }
    // More gaps than photos missing: the numbers are not one per camera.
    const int rest = missing - int(absent.size());
    if (rest < 0)
        return {};
    if (rest > 0) {
        // Cameras count from 0 or 1: a run that starts there lacks its end, one
        // that starts just after the missing ones lacks its start.
        if (first <= 1) {
            for (int k = 1; k <= rest; ++k)
                absent.push_back(last + k);
        } else if (first == rest + 1) {
            for (int number = 1; number < first; ++number)
                absent.push_back(number);
        } else {
            return {};
        }
    }
    std::sort(absent.begin(), absent.end());
    QStringList probable;
    const NumberedName& model = splits.front();
    for (const int number : absent)
        probable << model.prefix +
                        (same_width ? QStringLiteral("%1").arg(number, width, 10, QLatin1Char('0'))
                                    : QString::number(number)) +
                        model.suffix;
    return probable;
}
