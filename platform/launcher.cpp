#include "platform/launcher.h"

namespace saalwacht::platform {

std::string launchFailureText(int result) {
  if (result > 32 || result == kLaunchNotAttempted) return {};
  switch (result) {
    case kLaunchFileNotFound: return "Die angegebene Datei wurde nicht gefunden !";
    case kLaunchPathNotFound: return "Der Pfad zur Datei wurde nicht gefunden !";
    case kLaunchAccessDenied:
    case 26: return "Dateizugriff wird vom Betriebssystem verweigert !";
    case kLaunchBadFormat: return "Die .EXE Datei ist ungültig oder beschädigt !";
    case 27:
    case kLaunchNoAssociation:
      return "Der angegebene Dateityp ist auf Ihrem Computer keiner Anwendung zugeordnet !";
    default: return "Datei konnte nicht geöffnet werden !";
  }
}

}  // namespace saalwacht::platform
