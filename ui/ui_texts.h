#pragma once
// The user-visible French texts shared by the Windows program and the command-line patcher
// (UTF-8 here; the Windows front end converts them to UTF-16).

namespace qm::ui {

inline constexpr const char* text_opening_source = "Ouverture de la ROM source... ";
inline constexpr const char* text_initialising = "Initialisation... ";
inline constexpr const char* text_cancelling = "Annulation...";
inline constexpr const char* text_progress_caption = "Application du patch en cours...";
inline constexpr const char* text_success = "L'application du patch s'est déroulée avec succès.";
inline constexpr const char* text_success_title = "Terminé!";
inline constexpr const char* text_error_title = "Erreur";
inline constexpr const char* text_bad_source = "Chemin du fichier source incorrect";
inline constexpr const char* text_source_is_folder = "La source est un répertoire!";
inline constexpr const char* text_destination_is_folder = "La destination est un répertoire!";
inline constexpr const char* text_same_file = "Les fichiers source et destination sont identiques!";

} // namespace qm::ui
