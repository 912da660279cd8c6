#pragma once

class QCoreApplication;

// Installs Qt's own French translations (file dialogs, standard buttons) on
// `application`, so that what Qt draws speaks the program's language. The
// translators live as long as the application. False when they are not
// installed on this system (Debian: qttranslations5-l10n); Qt then speaks English.
bool install_french_translations(QCoreApplication& application);
