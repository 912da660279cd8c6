#pragma once

#include <QString>

// Where a long run stands, as a person watching it reads it: the step under way
// ("Écriture des images") and how many of its items are done.
struct RunStep
{
    QString label;
    int done = 0;
    int total = 0;

    // "Écriture des images : 7 / 24"
    QString text() const { return QStringLiteral("%1 : %2 / %3").arg(label).arg(done).arg(total); }
};
