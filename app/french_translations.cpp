#include "app/french_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

bool install_french_translations(QCoreApplication& application)
{
    auto* translator = new QTranslator(&application);
    if (!translator->load(QStringLiteral("qtbase_fr"),
                          QLibraryInfo::location(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    application.installTranslator(translator);
    return true;
}
