#include "console/core/interface_texts.h"

#include <algorithm>
#include <stdexcept>

namespace saalwacht::console {
namespace {

constexpr InterfaceTextKey kKeys[] = {
    {"Menue_1", "TForm1", "Datei1", TextProperty::Caption, "Datei"},
    {"Menue_1_1", "TForm1", "Beenden1", TextProperty::Caption, "Beenden"},
    {"Menue_2", "TForm1", "Bearbeiten1", TextProperty::Caption, "Bearbeiten"},
    {"Menue_2_1", "TForm1", "Einstellungen1", TextProperty::Caption, "Einstellungen"},
    {"Menue_2_2", "TForm1", "Raumplan_bearbeiten", TextProperty::Caption, "Raumplan"},
    {"Menue_2_3", "TForm1", "Sicherheit1", TextProperty::Caption, "Sicherheit"},
    {"Menue_2_4", "TForm1", "Konsolenschluessel1", TextProperty::Caption, "Konsolenschlüssel"},
    {"Menue_3", "TForm1", "Ansicht1", TextProperty::Caption, "Ansicht"},
    {"Menue_3_1", "TForm1", "Miniaturbildereinblenden1", TextProperty::Caption, "Miniaturbilder einblenden"},
    {"Menue_3_2", "TForm1", "Miniaturbilderausblenden1", TextProperty::Caption, "Miniaturbilder ausblenden"},
    {"Menue_4", "TForm1", "Hilfe1", TextProperty::Caption, "Hilfe"},
    {"Menue_4_1", "TForm1", "Hilfe2", TextProperty::Caption, "Hilfe"},
    {"Menue_4_3", "TForm1", "Info1", TextProperty::Caption, "Info ..."},
    {"First_ALLReset_Message", "TForm1", "Zuerst_alle_zuruecksetzen_Meldung", TextProperty::Caption, "Zur Nutzung dieser Aktion erst ALLE ZURÜCKSETZEN wählen!"},
    {"Button_AllReset", "TForm1", "alle_zuruecksetzen_button", TextProperty::Caption, "Alle zurücksetzen"},
    {"Button_AllBlack", "TForm1", "alle_dunkelschalten_button", TextProperty::Caption, "Alle dunkelschalten"},
    {"Button_TeacherToAll", "TForm1", "lehrer_an_alle_button", TextProperty::Caption, "Lehrermonitor an Alle"},
    {"Button_AllShutdown", "TForm1", "alle_herunterfahren_button", TextProperty::Caption, "Alle herunterfahren"},
    {"Button_MessageToAll", "TForm1", "nachricht_an_alle_button", TextProperty::Caption, "Nachricht an Alle"},
    {"Button_OpenInternet", "TForm1", "Internetfreigebenbutton", TextProperty::Caption, "Internet freigeben"},
    {"Button_CloseInternet", "TForm1", "Internetsperrenbutton", TextProperty::Caption, "Internet sperren"},
    {"Button_SaveClassroom", "TForm1", "Raumplanspeichern", TextProperty::Caption, "Speichern"},
    {"Button_NewMonitorsymbol", "TForm1", "Neuer_Rechner", TextProperty::Caption, "Neuer Rechner"},
    {"Button_CancelClassroomEditing", "TForm1", "Raumplanabbrechen_Button", TextProperty::Caption, "Abbrechen"},
    {"Infotext_EditClassroom", "TForm1", "Raumplanbearbeitungsinfotext", TextProperty::Caption, "Ziehen Sie die Monitore im Raumplan an die gewünschte Position. Über Rechtsklick auf einen Monitor können Sie diesen löschen oder den Rechnername ändern!"},
    {"Button_ShowMiniMonitorPictures", "TForm1", "Miniaturbildereinblenden1", TextProperty::Caption, "Miniaturbilder einblenden"},
    {"Button_HideMiniMonitorPictures", "TForm1", "Miniaturbilderausblenden1", TextProperty::Caption, "Miniaturbilder ausblenden"},
    {"PopupMenue_1_1", "TForm1", "Rechnerdeaktivieren1", TextProperty::Caption, "Rechner löschen"},
    {"PopupMenue_1_2", "TForm1", "Rechneraktivieren1", TextProperty::Caption, "Rechnername eintragen"},
    {"PopupMenue_1_3", "TForm1", "Rechnernamenaendern1", TextProperty::Caption, "Rechnername ändern"},
    {"Title_AktionBox", "TForm1", "Actionbox_Titel", TextProperty::Caption, "Einzelplatz-Aktionen"},
    {"Actionbox_Infotext", "TForm1", "Actionbox_Infotext", TextProperty::Caption, "Aktionen ausführen durch Klick auf einen Rechnernamen!"},
    {"PopupMenue_2_1", "TForm1", "Schuelermonitorholen", TextProperty::Caption, "Schülermonitor holen"},
    {"BPopupMenue_2_2", "TForm1", "Schuelermonitorfernsteuern", TextProperty::Caption, "Schülermonitor holen und fernsteuern"},
    {"PopupMenue_2_3", "TForm1", "Schuelermonitoranalleundfernsteuern", TextProperty::Caption, "Schülermonitor an Alle und fernsteuern"},
    {"PopupMenue_2_4", "TForm1", "Lehrermonitoruebertragen", TextProperty::Caption, "Lehrermonitor übertragen"},
    {"PopupMenue_2_5", "TForm1", "Monitordunkelschalten", TextProperty::Caption, "Monitor dunkelschalten"},
    {"PopupMenue_2_6", "TForm1", "Nachrichtsenden", TextProperty::Caption, "Nachricht senden"},
    {"PopupMenue_2_7", "TForm1", "Rechnerherunterfahren", TextProperty::Caption, "Rechner herunterfahren"},
    {"PopupMenue_2_8", "TForm1", "Screenshoterstellen", TextProperty::Caption, "Screenshot erstellen"},
    {"Options_Title", "TForm4", "", TextProperty::Caption, "Einstellungen"},
    {"Options_WindowSizeLabel", "TForm4", "Fenstergroessenlabel", TextProperty::Caption, "Anwendungsfenstergröße:"},
    {"Options_WindowSizeNormal", "TForm4", "Fenstergroesse_normal", TextProperty::Caption, "Normal (1024x768)"},
    {"Options_WindowSizeFullscreen", "TForm4", "Fenstergroesse_Vollbild", TextProperty::Caption, "Vollbild"},
    {"Options_ClassroomName", "TForm4", "Label4", TextProperty::Caption, "Raumbezeichnung (z.B. 'Raum 234'):"},
    {"Options_ChooseClassroomBackgroundpictureLabel1", "TForm4", "Raumplanhintergrundauswahl_Label1", TextProperty::Caption, "Raumplan-Hintergrundbild:"},
    {"Options_ChooseClassroomBackgroundpictureLabel2", "TForm4", "Raumplanhintergrundauswahl_Label2", TextProperty::Caption, "Bildgröße möglichst"},
    {"Options_SizeMiniMonitorImages_Text1", "TForm4", "Label5", TextProperty::Caption, "Größe der Miniaturbilder:"},
    {"Options_ResolutionChangedMessage", "TForm4", "ResolutionChangedMessage", TextProperty::Caption, "Bitte blenden Sie die Miniaturbilder aus und wieder erneut ein, damit die Änderung aktiviert wird!"},
    {"Options_MonitorImages", "TForm4", "Miniaturbilder", TextProperty::Caption, "Miniaturbilder im Raumplan:"},
    {"Options_ShowMonitorImages", "TForm4", "Miniaturbilder_anzeigen", TextProperty::Caption, "anzeigen"},
    {"Options_HideMonitorImages", "TForm4", "Miniaturbilder_ausblenden", TextProperty::Caption, "ausblenden"},
    {"Options_ShowHideMiniMonitorPicturesButton", "TForm4", "Miniaturbilder_einausblenden", TextProperty::Caption, "Menüpunkt 'Miniaturbilder ein-/ausblenden':"},
    {"Options_ShowButton_ShowHideMiniMonitorPictures", "TForm4", "Miniaturbilder_einausblenden_Button_anzeigen", TextProperty::Caption, "anzeigen"},
    {"Options_HideButton_ShowHideMiniMonitorPictures", "TForm4", "Miniaturbilder_einausblenden_Button_ausblenden", TextProperty::Caption, "ausblenden"},
    {"Options_ShowHideInternetButton", "TForm4", "Internetfreigabebuttonausblenden_Label", TextProperty::Caption, "Internetfreigabeschaltflaeche:"},
    {"Options_Show_InternetButton", "TForm4", "Internetfreigabebutton_anzeigen", TextProperty::Caption, "anzeigen"},
    {"Options_Hide_InternetButton", "TForm4", "Internetfreigabebutton_ausblenden", TextProperty::Caption, "ausblenden"},
    {"Options_MonitorImagesDefaultSize", "TForm4", "Label1", TextProperty::Caption, "Bildgrößenvoreinstellung für die Einzelplatz-Aktion 'Schülermonitor holen':"},
    {"Security_Title", "TForm13", "", TextProperty::Caption, "Sicherheit"},
    {"Security_line1", "TForm13", "Label1", TextProperty::Caption, "Für die Verbindung zwischen Lehrer- und Schüler-PCs ist ein Remote-Passwort festzulegen."},
    {"Security_line2", "TForm13", "Label2", TextProperty::Caption, "Bitte geben Sie ein 4- bis 8-stelliges Remote-Passwort (OHNE SONDERZEICHEN) unten ein."},
    {"Security_line3", "TForm13", "Label3", TextProperty::Caption, "WICHTIG: Das gleiche Passwort muss bei der Saalwacht-Installation"},
    {"Security_line4", "TForm13", "Label4", TextProperty::Caption, "an den Schüler-PCs eingetragen werden !!!"},
    {"Security_line5", "TForm13", "Label8", TextProperty::Caption, "Bei Verlust des gespeicherten Passwortes ist zum Ändern eine Neuinstallation nötig !!!"},
    {"Security_line6", "TForm13", "Label5", TextProperty::Caption, "altes Remote-Passwort eingeben:"},
    {"Security_line7", "TForm13", "Label6", TextProperty::Caption, "neues Remote-Passwort eingeben:"},
    {"Security_line8", "TForm13", "Label7", TextProperty::Caption, "neues Remote-Passwort wiederholen:"},
    {"Security_Button_OK", "TForm13", "Button1", TextProperty::Caption, "OK"},
    {"Security_Button_Cancel", "TForm13", "Button2", TextProperty::Caption, "Abbrechen"},
    {"Formular_Security_WrongPasswordMessage", "TForm13", "Falsches_altes_Password_Meldung", TextProperty::Caption, "Falsches altes Passwort. Bitte noch einmal eingeben!"},
    {"Formular_Security_WrongPasswordlengthMessage", "TForm13", "Falsche_Passwordlaenge_Meldung", TextProperty::Caption, "Bitte wählen Sie ein Passwort mit mindestens 4 Zeichen!"},
    {"Formular_Security_PasswordSavedMessage", "TForm13", "Password_gespeichert_Meldung", TextProperty::Caption, "Remote-Passwort wurde gespeichert!"},
    {"Formular_Security_RepeatPasswordMessage", "TForm13", "Password_wiederholen_Meldung", TextProperty::Caption, "Bitte wiederholen Sie noch einmal korrekt das Remote-Passwort!"},
    {"Formular_Screenshot_Print_Button", "TForm_Screenshot", "Druck_Button", TextProperty::Caption, "Drucken + Schließen"},
    {"Formular_Screenshot_Save_Button", "TForm_Screenshot", "Save_Button", TextProperty::Caption, "Speichern + Schließen"},
    {"Formular_Screenshot_Cancel_Button", "TForm_Screenshot", "Cancel_Button", TextProperty::Caption, "Abbrechen"},
    {"Formular_Shutdown_Head", "TForm5", "", TextProperty::Caption, "Schülerrechner herunterfahren"},
    {"Formular_Shutdown_Text1", "TForm5", "Label1", TextProperty::Caption, "Schülerrechner"},
    {"Formular_Shutdown_Text2", "TForm5", "Label2", TextProperty::Caption, "herunterfahren ?"},
    {"Formular_Shutdown_Button1", "TForm5", "Button1", TextProperty::Caption, "JA"},
    {"Formular_Shutdown_Button2", "TForm5", "Button2", TextProperty::Caption, "NEIN"},
    {"Formular_Info_Head", "TForm6", "", TextProperty::Caption, "Info über Saalwacht"},
    {"Formular_ShutdownAll_Head", "TForm7", "", TextProperty::Caption, "Alle Schülerrechner herunterfahren"},
    {"Formular_ShutdownAll_Text1", "TForm7", "Label1", TextProperty::Caption, "ALLE Schülerrechner herunterfahren ?"},
    {"Formular_ShutdownAll_Button1", "TForm7", "Button1", TextProperty::Caption, "JA"},
    {"Formular_ShutdownAll_Button2", "TForm7", "Button2", TextProperty::Caption, "NEIN"},
    {"Formular_Wait_Text1", "TForm11", "Label1", TextProperty::Caption, "Bitte warten ..."},
    {"Formular_ActivateComputer_Head", "TForm12", "", TextProperty::Caption, "Rechnername eintragen/ändern"},
    {"Formular_ActivateComputer_Text1", "TForm12", "Label1", TextProperty::Caption, "Geben Sie den Namen (Computername im Netzwerk)"},
    {"Formular_ActivateComputer_Text2", "TForm12", "Label2", TextProperty::Caption, "oder die IP-Adresse des Rechners ein:"},
    {"Formular_ActivateComputer_Button2", "TForm12", "Button2", TextProperty::Caption, "Abbrechen"},
    {"Formular_SendMessage_Head", "TForm2", "", TextProperty::Caption, "Nachricht senden"},
    {"Formular_SendMessage_Text1", "TForm2", "Label1", TextProperty::Caption, "Nachricht an "},
    {"Formular_SendMessage_Text3", "TForm2", "Label3", TextProperty::Caption, "Sie müssen zuerst noch einen Nachrichtentext eingeben!"},
    {"Formular_SendMessage_Text4", "TForm2", "Label4", TextProperty::Caption, "ALLE"},
    {"Formular_SendMessage_ButtonDeleteText", "TForm2", "loeschen_button", TextProperty::Hint, "Text löschen"},
    {"Formular_SendMessage_Button1", "TForm2", "Button1", TextProperty::Caption, "Senden"},
    {"Formular_SendMessage_Button2", "TForm2", "Button2", TextProperty::Caption, "Abbrechen"},
    {"ConsoleKey_Title", "TForm14", "", TextProperty::Caption, "Schlüssel dieser Lehrerkonsole"},
    {"ConsoleKey_line1", "TForm14", "Label1", TextProperty::Caption, "Schüler-PCs, denen dieser öffentliche Schlüssel vertraut ist, nehmen nur noch Befehle dieser Konsole an. Exportieren Sie ihn und legen Sie die Datei auf jedem Schüler-PC zu den vertrauten Schlüsseln (Linux: /etc/kursdienst/trusted-keys, Windows: bei der Installation)."},
    {"ConsoleKey_Fingerprint", "TForm14", "Label2", TextProperty::Caption, "Fingerabdruck:"},
    {"ConsoleKey_Export", "TForm14", "Exportieren_Button", TextProperty::Caption, "Öffentlichen Schlüssel exportieren ..."},
    {"ConsoleKey_Close", "TForm14", "Schliessen_Button", TextProperty::Caption, "Schließen"},
    {"ConsoleKey_ExportedMessage", "TForm14", "Exportiert_Meldung", TextProperty::Caption, "Der öffentliche Schlüssel dieser Konsole steht in %1."},
    {"ConsoleKey_RefusedMessage", "TForm1", "Abgewiesen_Meldung", TextProperty::Caption, "Diese Schüler-PCs nehmen keine Befehle von dieser Lehrerkonsole an: %1.\n\nTragen Sie dort den öffentlichen Schlüssel dieser Konsole ein (Fingerabdruck %2; Menü Bearbeiten, Konsolenschlüssel). Setzt ein PC \"allow\" in kursdienst.conf, muss auch die Adresse dieses Lehrer-PCs darin stehen."},
    {"Screenshot_NoPictureMessage", "TForm_Screenshot", "KeinBild_Meldung", TextProperty::Caption, "Der Rechner %1 hat kein Bild geschickt. Ein Screenshot ist nicht möglich."},
};

// The default selection is the control command (index 1), the action a
// teacher needs most; the list is zero-based like the seat actions.
constexpr std::size_t kDefaultSelectedAction = 1;

}  // namespace

std::span<const InterfaceTextKey> interfaceTextKeys() { return kKeys; }

const std::string& InterfaceTexts::text(std::string_view key) const {
  const auto keys = interfaceTextKeys();
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (keys[i].key == key) return texts_.at(i);
  }
  throw std::out_of_range("unknown interface text key: " + std::string(key));
}

const std::string& InterfaceTexts::controlText(std::string_view window,
                                               std::string_view control,
                                               TextProperty property) const {
  for (const Applied& applied : controls_) {
    if (applied.window == window && applied.control == control &&
        applied.property == property) {
      return applied.text;
    }
  }
  throw std::out_of_range("no interface text for " + std::string(window) + "." +
                          std::string(control));
}

InterfaceTexts loadInterfaceTexts(const ProfileFile& profile) {
  InterfaceTexts result;
  const auto keys = interfaceTextKeys();
  result.texts_.reserve(keys.size());
  std::size_t nextAction = 0;
  for (const InterfaceTextKey& entry : keys) {
    // value() tells a missing key from an empty one; only missing means default.
    std::string text = profile.value(kLanguageSection, entry.key)
                           .value_or(std::string(entry.defaultText));

    auto target = std::find_if(
        result.controls_.begin(), result.controls_.end(),
        [&](const InterfaceTexts::Applied& applied) {
          return applied.window == entry.window && applied.control == entry.control &&
                 applied.property == entry.property;
        });
    // A later key for the same control replaces the earlier one's text.
    if (target == result.controls_.end()) {
      result.controls_.push_back({entry.window, entry.control, entry.property, text});
    } else {
      target->text = text;
    }

    // The list is filled from the menu captions as they are set, so both
    // always show the same texts in the same order.
    if (nextAction < kSeatActionCount && entry.key == kSeatActionKeys[nextAction]) {
      result.actionList_[nextAction++] = text;
      if (nextAction == kSeatActionCount) {
        result.selectedAction_ = kDefaultSelectedAction;
      }
    }
    result.texts_.push_back(std::move(text));
  }
  return result;
}

}  // namespace saalwacht::console
