#include "ui/path_checks.h"

#include "ui/ui_texts.h"

namespace qm::ui {

std::optional<std::string> first_path_error(const path_facts& facts)
{
    if (!facts.source_queried)
        return text_bad_source;
    if (facts.source_is_folder)
        return text_source_is_folder;
    if (facts.destination_queried && facts.destination_is_folder)
        return text_destination_is_folder;
    if (facts.same_file)
        return text_same_file;
    return std::nullopt;
}

} // namespace qm::ui
