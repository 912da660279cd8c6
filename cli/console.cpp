#include "cli/console.h"

#include <iostream>

void print_error(const QString& message)
{
    std::cerr << "quorvane : " << message.toUtf8().constData() << std::endl;
}

void print_text(const QString& text)
{
    std::cout << text.toUtf8().constData() << std::flush;
}
