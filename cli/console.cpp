#include "cli/console.h"

#include "pipeline/photo_check.h"

#include <iostream>

void print_error(const QString& message)
{
    std::cerr << "quorvane : " << message.toUtf8().constData() << std::endl;
}

void print_text(const QString& text)
{
    std::cout << text.toUtf8().constData() << std::flush;
}

bool report_unusable_photos(const QStringList& paths, bool decode)
{
    bool usable = true;
    for (const QString& path : paths) {
        const QString problem = photo_problem(path, decode);
        if (!problem.isEmpty()) {
            print_error(QStringLiteral("'%1' : %2").arg(path, problem));
            usable = false;
        }
    }
    return usable;
}
