// The update client's French texts (UTF-8 here; the dialogs show them as Unicode). Line breaks
// are those of the messages as the program has always sent them ("\r", "\r\n").
#pragma once

namespace gx::text {

// Progress window.
inline constexpr char kUpdateCaption[] = "Mise à jour";
inline constexpr char kSearching[] = "Recherche de mise à jour ...";
inline constexpr char kDownloading[] = "Téléchargement des mises à jour...";

// Question and update-applied dialogs.
inline constexpr char kUpdateDialogCaption[] = "Gardalix : Mise à jour";
inline constexpr char kUpdateDialogTitle[] = "Mise à jour Gardalix";
inline constexpr char kYes[] = "Oui";
inline constexpr char kNo[] = "Non";
inline constexpr char kClose[] = "Fermer";
inline constexpr char kCloseButton[] = "&Fermer";
inline constexpr char kMessageBoxCaption[] = "Gardalix";

// The check.
inline constexpr char kConnectErrorTitle[] = "Gardalix mise à jour : Problème de connexion";
inline constexpr char kDescriptionErrorTitle[] = "Gardalix : Problème de connexion";
inline constexpr char kConnectErrorLead[] =
    "Impossible d'établir la connexion avec le serveur de mise à jour. (erreur ";
inline constexpr char kConnectErrorTail[] =
    ")\r\nVérifiez que vous êtes bien connecté à Internet.\r\n\r\nSi vous avez un firewall ou le "
    "parefeu Windows, vous devez ajouter Gardalix à votre firewall\r\net l'autoriser à accéder à "
    "internet.";
inline constexpr char kEmptyConnectReply[] =
    "Impossible d'établir la connexion avec le serveur de mise à jour.";
inline constexpr char kUpdateOfferLead[] = "Une mise à jour de Gardalix est disponible (v";
inline constexpr char kUpdateOfferTail[] = ")\r\rSouhaitez vous la télécharger ?";
inline constexpr char kUpToDateTitle[] = "Gardalix : mise à jour";
inline constexpr char kUpToDateText[] =
    "Gardalix est à jour.\r\rVous disposez des dernières mises à jour.";

// The download.
inline constexpr char kDownloadErrorTitle[] = "Problème d'accès au fichiers";
inline constexpr char kDownloadErrorLead[] = "Impossible de télécharger les fichiers. (erreur ";
inline constexpr char kDownloadErrorTail[] = ")\rVérifiez que vous êtes bien connecté à internet.";
inline constexpr char kTargetErrorLead[] =
    "Impossible de créer le fichier de mise à jour gxsoft.dat dans le dossier ";
inline constexpr char kTargetErrorTail[] =
    ".\rVérifiez que ce dossier existe et que vous pouvez y écrire.";
inline constexpr char kNoTempFolder[] = "temporaire (introuvable)";
inline constexpr char kAppliedLead[] =
    "Une mise à jour de Gardalix vient d'être téléchargée et va être appliquée.\r\nGardalix va "
    "être redémarré automatiquement.\r\rMise à jour: v";
inline constexpr char kAppliedDateJoin[] = " du ";

// Without a display: how a question that nobody can answer is settled.
inline constexpr char kAnsweredNo[] = "(aucun affichage pour répondre : réponse Non)";

}  // namespace gx::text
