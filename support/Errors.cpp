#include "support/Errors.h"

namespace tallimer {

ConversionError ConversionError::integer(const std::string& text) {
    return ConversionError("'" + text + "' n'est pas une valeur entière correcte");
}

ConversionError ConversionError::floating(const std::string& text) {
    return ConversionError("'" + text + "' n'est pas une valeur en virgule flottante correcte");
}

FileError FileError::create(const std::string& path) {
    return FileError("Impossible de créer le fichier " + path, path);
}

FileError FileError::open(const std::string& path) {
    return FileError("Impossible d'ouvrir le fichier " + path, path);
}

}  // namespace tallimer
