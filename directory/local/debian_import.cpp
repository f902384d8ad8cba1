#include "directory/local/debian_import.h"

#include <algorithm>
#include <string>
#include <unordered_map>

#include "directory/core/query.h"

namespace kelvora::directory {

namespace {

struct Package {
    std::string name;
    std::string homepage;
    std::string section;
    std::string tags;
    std::string maintainer;
    std::string summary;       // first line of the description
    std::string details;       // first paragraph of the long description
    std::vector<std::string> dependencies;   // Pre-Depends, Depends, Recommends
};

std::string Trim(std::string_view text)
{
    const std::size_t start = text.find_first_not_of(" \t");
    if (start == std::string_view::npos)
        return std::string();
    const std::size_t end = text.find_last_not_of(" \t\r");
    return std::string(text.substr(start, end - start + 1));
}

// "a (>= 1), b:any | c" → a, b, c.
void AddDependencies(std::string_view field, std::vector<std::string> &names)
{
    std::size_t start = 0;
    while (start < field.size()) {
        std::size_t end = field.find_first_of(",|", start);
        if (end == std::string_view::npos)
            end = field.size();
        std::string name = Trim(field.substr(start, end - start));
        name = name.substr(0, name.find_first_of(" (:[<\n"));
        if (!name.empty())
            names.push_back(std::move(name));
        start = end + 1;
    }
}

// The long description's first paragraph, joined into one line.
std::string FirstParagraph(std::string_view continuation)
{
    std::string text;
    std::size_t start = 0;
    while (start < continuation.size()) {
        std::size_t end = continuation.find('\n', start);
        if (end == std::string_view::npos)
            end = continuation.size();
        const std::string line = Trim(continuation.substr(start, end - start));
        if (line == ".")
            break;
        if (!line.empty()) {
            if (!text.empty())
                text += ' ';
            text += line;
        }
        start = end + 1;
    }
    return text;
}

class StanzaReader final {
public:
    explicit StanzaReader(std::istream &in)
        : m_in(in)
    {
    }

    // Reads the next stanza's fields; false at the end of the input.
    bool Next(std::unordered_map<std::string, std::string> &fields)
    {
        fields.clear();
        std::string *last = nullptr;
        std::string line;
        while (ReadLine(line)) {
            if (Trim(line).empty()) {
                if (!fields.empty())
                    return true;
                continue;
            }
            if ((line[0] == ' ' || line[0] == '\t') && last) {
                *last += '\n';
                *last += line;
                continue;
            }
            const std::size_t colon = line.find(':');
            if (colon == std::string::npos)
                continue;
            last = &fields[line.substr(0, colon)];
            *last = Trim(std::string_view(line).substr(colon + 1));
        }
        return !fields.empty();
    }

private:
    bool ReadLine(std::string &line)
    {
        line.clear();
        int c;
        while ((c = m_in.get()) != EOF && c != '\n') {
            if (line.size() < kMaxStanzaLine)
                line += static_cast<char>(c);
        }
        return c != EOF || !line.empty();
    }

    std::istream &m_in;
};

Package ToPackage(std::unordered_map<std::string, std::string> &fields)
{
    Package package;
    package.name = fields["Package"];
    package.homepage = fields["Homepage"];
    package.section = fields["Section"];
    package.tags = fields["Tag"];
    package.maintainer = fields["Maintainer"];
    const std::string &description = fields["Description"];
    const std::size_t lineEnd = description.find('\n');
    package.summary = Trim(std::string_view(description).substr(0, lineEnd));
    if (lineEnd != std::string::npos)
        package.details = FirstParagraph(std::string_view(description).substr(lineEnd + 1));
    for (const char *field : {"Pre-Depends", "Depends", "Recommends"})
        AddDependencies(fields[field], package.dependencies);
    return package;
}

// Length of a homepage's path, "/" and nothing counting alike: the shorter,
// the closer the page is to the host's own home page.
std::size_t PathLength(const std::string &homepage)
{
    const std::size_t scheme = homepage.find("//");
    const std::size_t path = homepage.find('/', scheme == std::string::npos ? 0 : scheme + 2);
    if (path == std::string::npos)
        return 0;
    const std::size_t length = homepage.size() - path;
    return length <= 1 ? 0 : length;
}

std::string Capitalised(std::string text)
{
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z')
        text[0] = static_cast<char>(text[0] - 'a' + 'A');
    return text;
}

std::string ContactOf(const Package &main)
{
    std::string contact;
    const std::string &maintainer = main.maintainer;
    const std::size_t open = maintainer.find('<');
    const std::size_t close = maintainer.find('>', open == std::string::npos ? 0 : open);
    if (open != std::string::npos && close != std::string::npos) {
        const std::string name = Trim(std::string_view(maintainer).substr(0, open));
        if (!name.empty())
            contact += "Name: " + name + "\n";
        contact += "Mail: " + maintainer.substr(open + 1, close - open - 1) + "\n";
    } else if (!Trim(maintainer).empty()) {
        contact += "Name: " + Trim(maintainer) + "\n";
    }
    contact += "Package: " + main.name + "\n";
    contact += "Homepage: " + main.homepage;
    return contact;
}

SiteInput SiteOf(const std::vector<const Package *> &packages,
                 const std::unordered_map<std::string, std::string> &hostOfPackage)
{
    const Package &main = *packages.front();
    SiteInput site;
    site.host = HostName(main.homepage);
    site.title = Capitalised(main.summary.empty() ? main.name : main.summary);
    // A hosting site holds many unrelated projects, none of which is its
    // own home page: its title names it rather than one of them.
    if (PathLength(main.homepage) > 0 && packages.size() > kMaxPackagesListed)
        site.title = site.host + " - home of " + std::to_string(packages.size()) + " packages";
    site.description = main.details.empty() ? Capitalised(main.summary) : main.details;
    if (!site.description.empty() && site.description.back() != '.')
        site.description += '.';
    site.description += " Packages: ";
    std::string keywords;
    for (std::size_t index = 0; index < packages.size(); ++index) {
        const Package &package = *packages[index];
        if (index < kMaxPackagesListed) {
            site.description += index ? "; " : "";
            site.description += package.name + " (" + package.summary + ")";
            keywords += package.name + ' ';
        }
        const std::string &section = package.section;
        keywords += section.substr(section.find('/') == std::string::npos ? 0 : section.find('/') + 1);
        keywords += ' ' + package.tags + ' ';
        for (const std::string &dependency : package.dependencies) {
            if (const auto found = hostOfPackage.find(dependency); found != hostOfPackage.end())
                site.outbound.push_back(found->second);
        }
    }
    if (packages.size() > kMaxPackagesListed)
        site.description += " and " + std::to_string(packages.size() - kMaxPackagesListed) + " more";
    site.description += '.';
    site.keywords = std::move(keywords);
    site.contact = ContactOf(main);
    return site;
}

} // namespace

std::vector<SiteInput> ReadDebianSites(std::istream &in, DebianSummary &summary)
{
    std::vector<Package> packages;
    std::unordered_map<std::string, std::size_t> byName;
    StanzaReader reader(in);
    std::unordered_map<std::string, std::string> fields;
    while (reader.Next(fields)) {
        Package package = ToPackage(fields);
        // The catalogue lists every version of a package; the first one,
        // apt's candidate, stands for it.
        if (package.name.empty() || !byName.emplace(package.name, packages.size()).second)
            continue;
        packages.push_back(std::move(package));
    }
    summary.packages = packages.size();

    std::unordered_map<std::string, std::string> hostOfPackage;
    std::unordered_map<std::string, std::vector<const Package *>> byKey;
    std::vector<std::string> keyOrder;
    for (const Package &package : packages) {
        const std::string host = HostName(package.homepage);
        const std::string key = HostKey(host);
        if (!IsStorableHost(host) || !IsStorableHost(key))
            continue;
        ++summary.withHomepage;
        hostOfPackage.emplace(package.name, host);
        auto &group = byKey[key];
        if (group.empty())
            keyOrder.push_back(key);
        group.push_back(&package);
    }

    std::vector<SiteInput> sites;
    sites.reserve(keyOrder.size());
    std::sort(keyOrder.begin(), keyOrder.end());
    for (const std::string &key : keyOrder) {
        std::vector<const Package *> &group = byKey[key];
        std::stable_sort(group.begin(), group.end(), [](const Package *a, const Package *b) {
            const std::size_t pathA = PathLength(a->homepage);
            const std::size_t pathB = PathLength(b->homepage);
            if (pathA != pathB)
                return pathA < pathB;
            if (a->name.size() != b->name.size())
                return a->name.size() < b->name.size();
            return a->name < b->name;
        });
        sites.push_back(SiteOf(group, hostOfPackage));
    }
    return sites;
}

} // namespace kelvora::directory
