// The console's French texts (UTF-8 here; the widgets show them as Unicode).
#pragma once

namespace gx::text {

inline constexpr char kApplicationTitle[] = "Gardalix 2024";
inline constexpr char kWindowTitle[] = "Gardalix";
inline constexpr char kBandTitle[] = "Bouclier anti-arnaque : Gardalix 2024";
inline constexpr char kHideHint[] = "Réduire en icône Gardalix";

// Protection state.
inline constexpr char kStatusDesign[] = "Gardalix est ACTIF et protège votre ordinateur.";
inline constexpr char kStatusOn[] = "Gardalix est ACTIF et protège votre ordinateur";
inline constexpr char kStatusOnService[] =
    "Gardalix est ACTIF : le service protège tous les comptes de cet ordinateur";
inline constexpr char kServiceToggleTip[] =
    "La protection est assurée par le service de Gardalix pour tous les comptes : elle continue "
    "quand cette fenêtre se ferme, et seul un administrateur peut l'arrêter.";
inline constexpr char kStatusOff[] = "Gardalix est DESACTIVE et ne protège pas votre ordinateur";
inline constexpr char kStatusStartFailed[] =
    "Gardalix Firewall est DESACTIVE et ne protège pas votre ordinateur";
inline constexpr char kButtonOff[] = "&Désactiver";
inline constexpr char kButtonOn[] = "&Activer";
inline constexpr char kTrayOff[] = "&Désactiver Gardalix";
inline constexpr char kTrayOn[] = "&Activer Gardalix";

inline constexpr char kSupportAddress[] = "support@gardalix.example";
inline constexpr char kDriverErrorTitle[] = "Gardalix : erreur driver";
inline constexpr char kDriverErrorLead[] =
    "Impossible d'activer le driver de Gardalix.\n\nContactez l'équipe Keldoran/Brevane à "
    "l'adresse ";
inline constexpr char kDriverErrorTail[] = " en indiquant votre version de Windows.";

inline constexpr char kConfirmTitle[] = "Gardalix : confirmation";
inline constexpr char kConfirmText[] =
    "Etes-vous sûr de vouloir arrêter et fermer Gardalix ?\nEn arrêtant Gardalix vous arrêtez "
    "votre protection";

inline constexpr char kAdultListErrorTitle[] = "Erreur fichier gx_pu.dat";
inline constexpr char kAdultListErrorText[] = "Erreur lors du chargement du fichier gx_pu.dat";
inline constexpr char kMalwareListErrorTitle[] = "Erreur fichier gx_mu.dat";
inline constexpr char kMalwareListErrorText[] = "Erreur lors du chargement du fichier gx_mu.dat";

// Tabs.
inline constexpr char kTabFiltrage[] = "Filtrage";
inline constexpr char kTabEnfants[] = "Protection||Enfants";
inline constexpr char kTabHistorique[] = "Historique";
inline constexpr char kTabAide[] = "Aide||Mise à jour";

inline constexpr char kShieldPanelTitle[] = "Bouclier anti-arnaque";
inline constexpr char kFiltrageText[] =
    "Gardalix vous apporte les fonctionnalités suivantes :\n"
    "» détecte et bloque les arnaques\n"
    "» détecte et bloque les URL malveillantes\n"
    "» filtre anti-phishing (anti hameçonnage)\n"
    "» détecte et bloque les sites web dangereux\n"
    "» protège contre les arnaques du type \"arnaque au faux support technique\"\n";
// `gardalix --lists` when the lists beside the program cannot be read.
inline constexpr char kListsUnreadable[] =
    "gardalix : les listes gx_mu.dat et gx_pu.dat du programme sont illisibles.";
inline constexpr char kReportingHeading[] = "Analyse et reporting";
inline constexpr char kReportLink[] = "Signaler un site malveillant";
inline constexpr char kReportText[] = "Signaler un site malveillant ou une arnaque.";
inline constexpr char kAnalyseLink[] = "Demander une analyse";
inline constexpr char kAnalyseText[] =
    "Demander l'avis d'un expert sur un site, une page, une URL.";

// HTTPS sites (the Filtrage tab).
inline constexpr char kHttpsProtected[] = "Sites HTTPS : protégés";
inline constexpr char kHttpsNotProtected[] =
    "Sites HTTPS : non protégés — seules les adresses http:// sont filtrées";
inline constexpr char kHttpsProtect[] = "Protéger aussi les sites HTTPS";
inline constexpr char kHttpsUnprotect[] = "Ne plus protéger les sites HTTPS";
inline constexpr char kHttpsTitle[] = "Gardalix : sites HTTPS";
inline constexpr char kHttpsUserDone[] =
    "Les sites HTTPS sont maintenant protégés dans vos navigateurs.";
inline constexpr char kHttpsUserFailed[] =
    "La protection des sites HTTPS n'a pas pu être mise en place dans vos navigateurs :";
inline constexpr char kHttpsSystemQuestion[] =
    "Voulez-vous aussi protéger les sites HTTPS pour tous les programmes de l'ordinateur ?\n\n"
    "Le mot de passe administrateur vous sera demandé.";
inline constexpr char kHttpsSystemDone[] =
    "Les sites HTTPS sont aussi protégés pour tout l'ordinateur.";
inline constexpr char kHttpsSystemOnlyDone[] =
    "Les sites HTTPS sont toutefois protégés pour tout l'ordinateur.";
inline constexpr char kHttpsSystemNoPkexec[] =
    "La protection de tout l'ordinateur n'a pas pu être demandée : pkexec est absent (paquet "
    "pkexec).";
inline constexpr char kHttpsSystemRefused[] =
    "La protection de tout l'ordinateur n'a pas été accordée (mot de passe refusé ou demande "
    "annulée).";
inline constexpr char kHttpsSystemFailed[] = "La protection de tout l'ordinateur a échoué :";
inline constexpr char kHttpsUserStays[] = "La protection de vos navigateurs reste en place.";
inline constexpr char kHttpsUndone[] =
    "Les sites HTTPS ne sont plus protégés ; le certificat de Gardalix a été retiré de vos "
    "navigateurs.";
inline constexpr char kHttpsUndoFailed[] =
    "Le certificat de Gardalix n'a pas pu être retiré de vos navigateurs :";
inline constexpr char kHttpsSystemUndone[] =
    "Il a aussi été retiré du magasin de certificats de l'ordinateur.";
inline constexpr char kHttpsSystemStays[] =
    "Il reste dans le magasin de certificats de l'ordinateur ; pour l'en retirer : sudo ";
inline constexpr char kHttpsToolMissing[] = "L'outil gx-driver est introuvable : ";
inline constexpr char kHttpsToolTimedOut[] = "L'outil gx-driver n'a pas répondu à temps.";

inline constexpr char kChildHeading[] = "Protection des enfants";
inline constexpr char kBlockAdult[] = "Bloquer les sites pornographiques";
inline constexpr char kApply[] = "&Appliquer";
inline constexpr char kApplyHint[] = "Appliquer la nouvelle configuration";
inline constexpr char kDefault[] = "&Défaut";
inline constexpr char kDefaultHint[] = "Restaure la configuration par défaut";

inline constexpr char kHistoryHeading[] = "Historique des url bloquées";
inline constexpr char kColumnDate[] = "Date";
inline constexpr char kColumnUrl[] = "URL";
inline constexpr char kColumnType[] = "Type";
inline constexpr char kProgramLine[] = "Programme : ";
inline constexpr char kProgramUnknown[] = "inconnu";

// The alert for a program that is not a browser.
inline constexpr char kProgramAlertTitle[] = "Gardalix : programme suspect";
inline constexpr char kProgramAlertLead[] = "Le programme ";
inline constexpr char kProgramAlertMiddle[] = " a tenté d'ouvrir l'adresse bloquée ";
inline constexpr char kProgramAlertAdvice[] =
    "Ce programme n'est pas un navigateur : votre ordinateur est peut-être infecté.";

// The parental code.
inline constexpr char kParentalHeading[] = "Code parental";
inline constexpr char kParentalNone[] =
    "Aucun code parental. Avec un code, il faut le saisir pour désactiver la protection, arrêter "
    "Gardalix ou désactiver la protection des enfants.";
inline constexpr char kParentalSet[] =
    "Un code parental est défini : il est demandé pour désactiver la protection, arrêter "
    "Gardalix ou désactiver la protection des enfants.";
inline constexpr char kParentalDefine[] = "Définir le &code...";
inline constexpr char kParentalChange[] = "&Changer le code...";
inline constexpr char kParentalRemove[] = "&Supprimer le code";
inline constexpr char kParentalTitle[] = "Gardalix : code parental";
inline constexpr char kParentalAsk[] = "Entrez le code parental :";
inline constexpr char kParentalNew[] = "Nouveau code (4 à 12 caractères) :";
inline constexpr char kParentalConfirm[] = "Confirmez le nouveau code :";
inline constexpr char kParentalWrong[] = "Code incorrect.";
inline constexpr char kParentalLockedLead[] = "Trop de codes incorrects : réessayez dans ";
inline constexpr char kParentalLockedTail[] = " s.";
inline constexpr char kParentalLength[] = "Le code doit compter de 4 à 12 caractères.";
inline constexpr char kParentalMismatch[] = "Les deux codes saisis ne sont pas identiques.";
inline constexpr char kParentalCancel[] = "A&nnuler";
inline constexpr char kParentalSetDone[] = "Le code parental est défini.";
inline constexpr char kParentalRemoved[] = "Le code parental est supprimé.";
inline constexpr char kParentalNoDisplay[] =
    "Gardalix : code parental : aucun affichage pour saisir le code, action refusée.";

inline constexpr char kHelpHeading[] = "Aide et documentation";
inline constexpr char kAboutLink[] = "A propos de Gardalix ...";
inline constexpr char kHelpLink[] = "Ouvrir l'aide en ligne de Gardalix";
inline constexpr char kTestLink[] = "Tester le filtrage temps réel de Gardalix";
inline constexpr char kUpdateHeading[] = "Mise à jour";
inline constexpr char kUpdateLink[] = "Rechercher mise à jour ...";

inline constexpr char kTestTitle[] = "Gardalix: Tester le filtrage temps-réel";
inline constexpr char kTestText[] =
    "Cette fonction permet de tester le filtrage temps-réel de Gardalix.\n\nVoulez-vous ouvrir "
    "une page de test (sans aucun danger) pour tester le filtrage temps-réel de Gardalix";

// Tray.
inline constexpr char kTrayHint[] = "Gardalix";
inline constexpr char kTrayOpen[] = "Afficher &console";
inline constexpr char kTrayClose[] = "Arrêter et &fermer Gardalix";
inline constexpr char kTrayHelp[] = "A&ide";
inline constexpr char kTrayAbout[] = "A &propos de Gardalix";

// About box.
inline constexpr char kAboutTitle[] = "A propos de Gardalix";
inline constexpr char kVersion[] = "Version 1.5.0 du 07/02/2024";
inline constexpr char kOk[] = "&OK";

inline constexpr char kUnknownError[] = "Erreur inattendue";

// A console without a display.
inline constexpr char kHeadlessNotice[] =
    "Gardalix : aucun affichage graphique (ni DISPLAY ni WAYLAND_DISPLAY), la console n'est pas "
    "visible.";
inline constexpr char kHeadlessRunning[] = " La protection fonctionne";
inline constexpr char kHeadlessProxy[] = " ; le proxy écoute sur ";
inline constexpr char kHeadlessNotRunning[] = " La protection n'a pas pu démarrer.";

}  // namespace gx::text
