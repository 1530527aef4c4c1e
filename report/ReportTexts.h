// The texts that both report dialogs show (UTF-8 here; the widgets show them as Unicode).
#pragma once

namespace gx::text {

inline constexpr char kAddressLabel[] = "Adresse du site ou de la page : ";
inline constexpr char kExplanationLabel[] =
    "Expliquez pourquoi vous pensez que ce site est malveillant";
inline constexpr char kEmailLabel[] = "Votre adresse email (pour vous communiquer le résultat)";
inline constexpr char kOk[] = "&OK";
inline constexpr char kCancel[] = "&Annuler";

}  // namespace gx::text
