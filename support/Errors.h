#pragma once
// The program's failures, with the French messages the user sees.
#include <stdexcept>
#include <string>

namespace tallimer {

// Base of every error the program raises on purpose; what() is the text shown to the user.
class Error : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A typed or stored text that is not a number of the expected kind.
class ConversionError : public Error {
  public:
    using Error::Error;
    static ConversionError integer(
        const std::string& text);  // "'%s' n'est pas une valeur entière correcte"
    static ConversionError floating(
        const std::string& text);  // "'%s' n'est pas une valeur en virgule flottante correcte"
};

// A file that cannot be written or read; the message names the path.
class FileError : public Error {
  public:
    FileError(const std::string& message, std::string path)
        : Error(message), path_(std::move(path)) {}
    static FileError create(const std::string& path);  // "Impossible de créer le fichier %s"
    static FileError open(const std::string& path);    // "Impossible d'ouvrir le fichier %s"
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace tallimer
