#include "UnitFileType.h"

#include <QImage>
#include <QImageReader>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace qrv {

namespace fs = std::filesystem;

namespace {

// The MIME package file, the icon name of the MIME type and the player's icon name.
constexpr const char* MimePackageName = "qrv-recording.xml";
constexpr const char* MimeIconName = "application-x-qrv-recording";
constexpr const char* PlayerIconName = "qrv-brisaplayer";
constexpr const char* DefaultApplicationsSection = "[Default Applications]";
constexpr const char* AddedAssociationsSection = "[Added Associations]";
// Sizes of the icons installed into the theme folder, in pixels.
constexpr int IconSizes[] = {48, 256};

std::string HomeFolder()
{
    const char* home = std::getenv("HOME");
    return home != nullptr && home[0] == '/' ? std::string(home) : std::string();
}

// An XDG base folder: the variable when it holds an absolute path, else the home folder
// with `fallback` appended; empty when neither is usable.
fs::path BaseFolder(const char* variable, const char* fallback)
{
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] == '/')
        return value;
    const std::string home = HomeFolder();
    return home.empty() ? fs::path() : fs::path(home) / fallback;
}

fs::path DataHome() { return BaseFolder("XDG_DATA_HOME", ".local/share"); }
fs::path ConfigHome() { return BaseFolder("XDG_CONFIG_HOME", ".config"); }

// A colon-separated list of absolute folders, or `fallback` when the variable is unset or
// empty.
std::vector<fs::path> FolderList(const char* variable, const char* fallback)
{
    const char* value = std::getenv(variable);
    std::string list = value != nullptr && *value != '\0' ? value : fallback;
    std::vector<fs::path> folders;
    std::stringstream in(list);
    std::string item;
    while (std::getline(in, item, ':'))
        if (!item.empty() && item[0] == '/')
            folders.emplace_back(item);
    return folders;
}

// The user's data folder first, then the system's.
std::vector<fs::path> DataFolders()
{
    std::vector<fs::path> folders;
    if (fs::path home = DataHome(); !home.empty())
        folders.push_back(home);
    for (fs::path& f : FolderList("XDG_DATA_DIRS", "/usr/local/share:/usr/share"))
        folders.push_back(std::move(f));
    return folders;
}

std::string LowerAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string Trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// The value of `key` in `section` of a desktop-entry style file; none when missing.
std::optional<std::string> ReadKeyFile(const fs::path& path, const std::string& section, const std::string& key)
{
    std::ifstream in(path);
    if (!in)
        return std::nullopt;
    std::string line;
    bool inSection = false;
    while (std::getline(in, line)) {
        const std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed[0] == '#')
            continue;
        if (trimmed[0] == '[') {
            inSection = trimmed == section;
            continue;
        }
        if (!inSection)
            continue;
        const auto equals = trimmed.find('=');
        if (equals == std::string::npos || Trim(trimmed.substr(0, equals)) != key)
            continue;
        return Trim(trimmed.substr(equals + 1));
    }
    return std::nullopt;
}

// Undoes the string escapes of desktop entry values: \s \n \t \r \\.
std::string UnescapeDesktopString(const std::string& value)
{
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const char next = value[++i];
        switch (next) {
        case 's': out += ' '; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        default: out += next; break;
        }
    }
    return out;
}

std::string EscapeDesktopString(const std::string& value)
{
    std::string out;
    for (char c : value) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        default: out += c; break;
        }
    }
    return out;
}

// The program of an Exec line: quoted when it holds a character the Exec rules reserve,
// with '"', '`', '$' and '\' escaped inside the quotes; '%' doubled either way.
std::string ExecProgram(const std::string& path)
{
    const std::string reserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string out;
    const bool quote = path.find_first_of(reserved) != std::string::npos;
    if (quote)
        out += '"';
    for (char c : path) {
        if (c == '%')
            out += "%%";
        else if (quote && (c == '"' || c == '`' || c == '$' || c == '\\'))
            (out += '\\') += c;
        else
            out += c;
    }
    if (quote)
        out += '"';
    return out;
}

// The MIME type of files named "*<extWithDot>" by the compiled glob lists; a fallback to the
// user's own package file covers machines where update-mime-database is not installed.
std::string MimeTypeOfExtension(const std::string& extWithDot)
{
    if (extWithDot.size() < 2 || extWithDot[0] != '.')
        return {};
    const std::string glob = "*" + LowerAscii(extWithDot);
    for (const fs::path& folder : DataFolders()) {
        std::ifstream in(folder / "mime" / "globs2");
        std::string line;
        while (std::getline(in, line)) {
            if (line.empty() || line[0] == '#')
                continue;
            // weight:type:glob[:flags]
            const auto first = line.find(':');
            const auto second = first == std::string::npos ? first : line.find(':', first + 1);
            if (second == std::string::npos)
                continue;
            const auto third = line.find(':', second + 1);
            const std::string pattern = line.substr(second + 1, third == std::string::npos ? third : third - second - 1);
            if (LowerAscii(pattern) == glob)
                return line.substr(first + 1, second - first - 1);
        }
    }
    const fs::path home = DataHome();
    if (home.empty())
        return {};
    std::ifstream package(home / "mime" / "packages" / MimePackageName);
    std::stringstream text;
    text << package.rdbuf();
    const std::string xml = text.str();
    if (xml.find("pattern=\"" + glob + "\"") != std::string::npos &&
        xml.find(std::string("type=\"") + RecordingMimeType + "\"") != std::string::npos)
        return RecordingMimeType;
    return {};
}

// The default application's desktop file of `mimeType`, by the mimeapps.list files in
// their order of precedence; the first listed id whose desktop file exists counts.
fs::path DefaultApplicationFile(const std::string& mimeType)
{
    std::vector<fs::path> lists;
    if (fs::path home = ConfigHome(); !home.empty())
        lists.push_back(home / "mimeapps.list");
    for (const fs::path& folder : FolderList("XDG_CONFIG_DIRS", "/etc/xdg"))
        lists.push_back(folder / "mimeapps.list");
    for (const fs::path& folder : DataFolders())
        lists.push_back(folder / "applications" / "mimeapps.list");
    for (const fs::path& list : lists) {
        const std::optional<std::string> ids = ReadKeyFile(list, DefaultApplicationsSection, mimeType);
        if (!ids)
            continue;
        std::stringstream in(*ids);
        std::string id;
        while (std::getline(in, id, ';')) {
            id = Trim(id);
            if (id.empty() || id.find('/') != std::string::npos)
                continue;
            for (const fs::path& folder : DataFolders()) {
                std::error_code ec;
                const fs::path file = folder / "applications" / id;
                if (fs::is_regular_file(file, ec))
                    return file;
            }
        }
    }
    return {};
}

std::string ReadRegistered(const std::string& extWithDot, const std::vector<std::string>& keys)
{
    try {
        const std::string type = MimeTypeOfExtension(extWithDot);
        if (type.empty())
            return {};
        const fs::path desktop = DefaultApplicationFile(type);
        if (desktop.empty())
            return {};
        for (const std::string& key : keys)
            if (std::optional<std::string> value = ReadKeyFile(desktop, "[Desktop Entry]", key))
                return ApplyRegisteredQuoteRule(UnescapeDesktopString(*value));
    } catch (...) {
    }
    return {};
}

// Writes `content` to `path` through a temporary file in the same folder, so that a reader
// never sees half a file. False on any error.
bool WriteWhole(const fs::path& path, const std::string& content)
{
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    if (ec)
        return false;
    const fs::path temp = path.string() + ".new-" + std::to_string(::getpid());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << content;
        out.flush();
        if (!out) {
            fs::remove(temp, ec);
            return false;
        }
    }
    fs::rename(temp, path, ec);
    if (ec) {
        fs::remove(temp, ec);
        return false;
    }
    return true;
}

std::string MimePackageText(const std::string& mimeType, const std::string& ext)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
           "  <mime-type type=\"" + mimeType + "\">\n"
           "    <comment>QRV recording</comment>\n"
           "    <icon name=\"" + MimeIconName + "\"/>\n"
           "    <glob pattern=\"*." + LowerAscii(ext) + "\"/>\n"
           "  </mime-type>\n"
           "</mime-info>\n";
}

std::string DesktopFileText(const std::string& mimeType, const std::string& exePath, const std::string& icon)
{
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Brisa Player\n"
           "Comment=Plays recorded conferences\n"
           "Exec=" + EscapeDesktopString(ExecProgram(exePath)) + " %f\n"
           "Icon=" + PlayerIconName + "\n"
           "Terminal=false\n"
           "Categories=AudioVideo;Video;Player;\n"
           "MimeType=" + mimeType + ";\n"
           "X-QRV-DefaultIcon=" + EscapeDesktopString(icon) + ",0\n";
}

// `list` (a mimeapps.list) with `mimeType` set to `desktopId` in `section`; every other line
// is kept as it was.
std::string WithAssociation(const std::string& list, const std::string& section, const std::string& mimeType,
                            const std::string& desktopId)
{
    std::stringstream in(list);
    std::string line;
    std::string out;
    bool inSection = false;
    bool sectionSeen = false;
    bool written = false;
    auto finishSection = [&] {
        if (inSection && !written) {
            out += mimeType + "=" + desktopId + ";\n";
            written = true;
        }
    };
    while (std::getline(in, line)) {
        const std::string trimmed = Trim(line);
        if (!trimmed.empty() && trimmed[0] == '[') {
            finishSection();
            inSection = trimmed == section;
            sectionSeen = sectionSeen || inSection;
        } else if (inSection) {
            const auto equals = trimmed.find('=');
            if (equals != std::string::npos && Trim(trimmed.substr(0, equals)) == mimeType) {
                if (!written)
                    out += mimeType + "=" + desktopId + ";\n";
                written = true;
                continue;
            }
        }
        out += line + "\n";
    }
    finishSection();
    if (!sectionSeen) {
        if (!out.empty() && out.back() != '\n')
            out += '\n';
        out += section + std::string("\n") + mimeType + "=" + desktopId + ";\n";
    }
    return out;
}

// The picture of `path` at `size` x `size`, or a null image when it cannot be read.
QImage LoadIcon(const QString& path, int size)
{
    QImageReader reader(path);
    if (!reader.canRead())
        return {};
    if (reader.supportsOption(QImageIOHandler::ScaledSize))
        reader.setScaledSize(QSize(size, size));
    // An .ico file holds several sizes; take the largest.
    int best = 0;
    QSize bestSize;
    for (int i = 0; i < reader.imageCount(); ++i) {
        reader.jumpToImage(i);
        const QSize s = reader.size();
        if (s.width() * s.height() > bestSize.width() * bestSize.height()) {
            bestSize = s;
            best = i;
        }
    }
    reader.jumpToImage(best);
    QImage image = reader.read();
    if (image.isNull())
        return {};
    if (image.size() != QSize(size, size))
        image = image.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

void InstallIcon(const QString& source, const QString& fallback, const char* context, const char* name)
{
    const fs::path home = DataHome();
    for (int size : IconSizes) {
        QImage image = LoadIcon(source, size);
        if (image.isNull())
            image = LoadIcon(fallback, size);
        if (image.isNull())
            continue;
        const std::string dimension = std::to_string(size) + "x" + std::to_string(size);
        const fs::path folder = home / "icons" / "hicolor" / dimension / context;
        std::error_code ec;
        fs::create_directories(folder, ec);
        const fs::path target = folder / (std::string(name) + ".png");
        const fs::path temp = target.string() + ".new";
        if (image.save(QString::fromStdString(temp.string()), "PNG"))
            fs::rename(temp, target, ec);
    }
}

// Runs `program` with `argument` when it is on the PATH, waiting for it; its output goes
// nowhere. The child is always reaped.
void RunIfPresent(const char* program, const std::string& argument)
{
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return;
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::string name = program;
    std::string arg = argument;
    char* argv[] = {name.data(), arg.data(), nullptr};
    pid_t pid = 0;
    const int started = posix_spawnp(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0)
        return;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

} // namespace

std::string ApplyRegisteredQuoteRule(const std::string& value)
{
    if (value.empty() || value[0] != '"')
        return value;
    const auto close = value.find('"', 1);
    if (close == std::string::npos)
        return {};
    return value.substr(1, close - 1);
}

std::string ReadRegisteredCommand(const std::string& extWithDot)
{
    return ReadRegistered(extWithDot, {"Exec"});
}

std::string ReadRegisteredIcon(const std::string& extWithDot)
{
    return ReadRegistered(extWithDot, {"X-QRV-DefaultIcon", "Icon"});
}

void RegisterFileType(const std::string& ext, const std::string& exePath, const std::string& iconPath)
{
    try {
        const fs::path data = DataHome();
        const fs::path config = ConfigHome();
        if (data.empty() || config.empty() || ext.empty())
            return;
        const std::string mimeType =
            LowerAscii(ext) == "crd" ? std::string(RecordingMimeType) : "application/x-qrv-" + LowerAscii(ext);

        if (!WriteWhole(data / "mime" / "packages" / MimePackageName, MimePackageText(mimeType, ext)))
            return;
        const std::string icon = iconPath.empty() ? exePath : iconPath;
        if (!WriteWhole(data / "applications" / PlayerDesktopId, DesktopFileText(mimeType, exePath, icon)))
            return;

        const fs::path listPath = config / "mimeapps.list";
        std::string list;
        {
            std::ifstream in(listPath, std::ios::binary);
            std::stringstream text;
            text << in.rdbuf();
            list = text.str();
        }
        list = WithAssociation(list, DefaultApplicationsSection, mimeType, PlayerDesktopId);
        list = WithAssociation(list, AddedAssociationsSection, mimeType, PlayerDesktopId);
        if (!WriteWhole(listPath, list))
            return;

        // The recording icon for the type, the program's icon for the player; a source that
        // is not a picture (the program's own path) gives the built-in recording icon.
        const QString source = QString::fromStdString(icon);
        InstallIcon(source, QStringLiteral(":/icons/BrisaFile.svg"), "mimetypes", MimeIconName);
        InstallIcon(QStringLiteral(":/icons/BrisaPlayer.svg"), {}, "apps", PlayerIconName);

        RunIfPresent("update-mime-database", (data / "mime").string());
        RunIfPresent("update-desktop-database", (data / "applications").string());
    } catch (...) {
    }
}

bool CheckFileAssociation(const std::string& exePath, const std::string& exeDir)
{
    try {
        bool needed = false;
        std::string icon = exeDir + "BrisaFile.ico";
        std::error_code ec;
        if (fs::exists(icon, ec)) {
            const std::string registered = ReadRegisteredIcon(RecordingExtension);
            needed = registered.empty() || registered.find(icon) == std::string::npos;
        } else {
            icon = exePath;
        }
        const std::string command = ReadRegisteredCommand(RecordingExtension);
        if (command.empty() || command.find(exePath) == std::string::npos)
            needed = true;
        if (needed)
            RegisterFileType("crd", exePath, icon);
        return needed;
    } catch (...) {
        return false;
    }
}

} // namespace qrv
