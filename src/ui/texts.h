// What the user reads, in code page 1252 ("\xE8" is the letter e with a
// grave accent); lines break with a single line feed.
#ifndef UI_TEXTS_H
#define UI_TEXTS_H

#define WELCOME_CAPTION "Benvenuti nel programma di disinstallazione"
#define WELCOME_TEXT                                                                   \
    "Fate clic sul pulsante 'OK' per disinstallare il driver " DRIVER_NAME ".\n"       \
    "Fate clic sul pulsante 'Annula' per abbandonare la procedura de disinstallazione."

#define CANCEL_TEXT "Il driver " DRIVER_NAME " non \xE8 stato disinstallato e rimane nel PC."
#define CANCEL_CAPTION "Disinstallazione interrotta"

#define PROGRESS_CAPTION "Disinstallazione del driver"
#define PROGRESS_TEXT "Il driver " DRIVER_NAME " \xE8 in fase di disinstallazione..."

#define COMPLETION_TEXT                                                             \
    "Il driver " DRIVER_NAME " \xE8 stato disinstallato correttamente.\n"           \
    "Dovete riavviare il vostro PC per completare la disinstallazione.\n"           \
    "\n"                                                                            \
    "Fate clic sul pulsante 'Si' per riavviare Windows adesso.\n"                   \
    "Scegliete 'No' se volete continuare a lavorare.\n"                             \
    "\n"                                                                            \
    "La disinstallazione sara effettiva solo dopo aver riavviato Windows."
#define COMPLETION_CAPTION "Disinstallazione riuscita"

#endif
