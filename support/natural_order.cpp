#include "support/natural_order.h"

#include <QFileInfo>

#include <algorithm>
#include <ostream>

namespace {

// Compares two runs of digits by value; with equal values the run with fewer
// leading zeros comes first, so "2" < "02" and the order stays total.
int compare_numbers(QStringView a, QStringView b)
{
    auto significant = [](QStringView run) {
        int zeros = 0;
        while (zeros + 1 < run.size() && run[zeros] == QLatin1Char('0'))
            ++zeros;
        return run.mid(zeros);
    };
    const QStringView a_digits = significant(a);
    const QStringView b_digits = significant(b);
    if (a_digits.size() != b_digits.size())
        return a_digits.size() < b_digits.size() ? -1 : 1;
    if (const int order = a_digits.compare(b_digits))
        return order;
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return 0;
}

int digit_run_length(QStringView text, int from)
{
    int end = from;
    while (end < text.size() && text[end].isDigit())
        ++end;
    return end - from;
}

int compare_natural(QStringView a, QStringView b)
{
    int i = 0;
    int j = 0;
    while (i < a.size() && j < b.size()) {
        const int a_run = digit_run_length(a, i);
        const int b_run = digit_run_length(b, j);
        if (a_run > 0 && b_run > 0) {
            if (const int order = compare_numbers(a.mid(i, a_run), b.mid(j, b_run)))
                return order;
            i += a_run;
            j += b_run;
            continue;
        }
        const QChar a_char = a[i].toCaseFolded();
        const QChar b_char = b[j].toCaseFolded();
        if (a_char != b_char)
            return a_char < b_char ? -1 : 1;
        ++i;
        ++j;
    }
    if (a.size() - i != b.size() - j)
        return a.size() - i < b.size() - j ? -1 : 1;
    return 0;
}

} // namespace

bool natural_less(const QString& a, const QString& b)
{
    const QString a_name = QFileInfo(a).fileName();
    const QString b_name = QFileInfo(b).fileName();
    if (const int order = compare_natural(a_name, b_name))
        return order < 0;
    // Same name but for case: a fixed order all the same, then the folders.
    if (const int order = a_name.compare(b_name))
        return order < 0;
    if (const int order = compare_natural(a, b))
        return order < 0;
    return a < b;
}

QStringList natural_sorted(QStringList paths)
{
    std::stable_sort(paths.begin(), paths.end(), natural_less);
    return paths;
}

bool is_natural_order(const QStringList& paths)
{
    return std::is_sorted(paths.begin(), paths.end(), natural_less);
}

void log_camera_order(std::ostream& log, const QStringList& paths)
{
    for (int i = 0; i < paths.size(); ++i)
        log << "Camera " << i + 1 << " : " << paths.at(i).toStdString() << std::endl;
}
