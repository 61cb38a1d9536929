// lumenfall-imagegen: draws the show's images and writes its sprite animations.
//
//   lumenfall-imagegen --content <content dir> --out <assets dir>
//                      [--fonts <dir>] [--preview <dir>]
//
// Writes "envflare3.tga", "ventillator.tga", the sprite images and the four ".ife" files
// (from <content dir>/ife, rewritten with CR LF line ends) into the assets folder. The output
// depends only on the sources and the fonts, byte for byte. --preview also writes frames of
// the animations composed at chosen music times, for looking at them without the show.

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "Artwork.h"
#include "IfeScript.h"
#include "Preview.h"

namespace {

// In the order the show loads them.
const char* const kAnimations[] = {"overlay.ife", "racs.ife", "credits.ife", "vege.ife"};
// The particle sets load the flare too, right after the first two animations.
const char* const kFlare = "envflare3.tga";

struct Options {
    std::string content;
    std::string out;
    std::string fonts = "/usr/share/fonts/truetype/dejavu";
    std::string preview;
};

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--content") == 0 && hasValue) {
            options.content = argv[++i];
        } else if (std::strcmp(argv[i], "--out") == 0 && hasValue) {
            options.out = argv[++i];
        } else if (std::strcmp(argv[i], "--fonts") == 0 && hasValue) {
            options.fonts = argv[++i];
        } else if (std::strcmp(argv[i], "--preview") == 0 && hasValue) {
            options.preview = argv[++i];
        } else {
            return false;
        }
    }
    return !options.content.empty() && !options.out.empty();
}

bool readText(const std::string& path, std::string& text, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot open " + path;
        return false;
    }
    text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return true;
}

// Texture-load steps the sprites add to loading: 6 for a name the texture cache has not seen,
// 5 for a name it has. The flare is counted with the particle sets, which would load it
// anyway, so every sprite use of it costs 5.
int spriteSteps(const std::vector<IfeScript>& scripts) {
    std::set<std::string> seen{kFlare};
    int steps = 0;
    for (const IfeScript& script : scripts) {
        for (const ScriptSprite& sprite : script.sprites) {
            steps += seen.insert(sprite.imageName).second ? 6 : 5;
        }
    }
    return steps;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: lumenfall-imagegen --content <dir> --out <dir> "
                             "[--fonts <dir>] [--preview <dir>]\n");
        return 2;
    }
    std::string error;

    // Images.
    std::vector<Artwork> artwork;
    if (!buildArtwork(options.fonts, artwork, error)) {
        std::fprintf(stderr, "lumenfall-imagegen: %s\n", error.c_str());
        return 1;
    }
    std::set<std::string> imageNames;
    for (const Artwork& art : artwork) {
        const std::string path = options.out + "/" + art.name;
        const bool written =
            art.format == ImageFormat::Tga ? writeTga(path, art.image) : writePng(path, art.image);
        if (!written) {
            return 1;
        }
        imageNames.insert(art.name);
        if (art.name == "ventillator.tga") {
            std::printf("lumenfall-imagegen: fan mask black share %.1f%%\n",
                        100.0 * blackShare(art.image));
        }
    }

    // Animations.
    std::vector<IfeScript> scripts;
    for (const char* name : kAnimations) {
        const std::string source = options.content + "/ife/" + name;
        std::string text;
        IfeScript script;
        if (!readText(source, text, error) || !parseIfe(text, source, script, error)) {
            std::fprintf(stderr, "lumenfall-imagegen: %s\n", error.c_str());
            return 1;
        }
        for (const ScriptSprite& sprite : script.sprites) {
            if (imageNames.count(sprite.imageName) == 0) {
                std::fprintf(stderr, "lumenfall-imagegen: %s: no image named '%s'\n",
                             source.c_str(), sprite.imageName.c_str());
                return 1;
            }
        }
        if (!writeFile(options.out + "/" + name, withCrLf(text))) {
            return 1;
        }
        scripts.push_back(std::move(script));
    }
    std::printf("lumenfall-imagegen: sprite texture loads take %d progress steps\n",
                spriteSteps(scripts));

    if (!options.preview.empty()) {
        PreviewContent content;
        for (const Artwork& art : artwork) {
            content.images[art.name] = &art.image;
        }
        content.overlay = scripts[0];
        content.racs = scripts[1];
        content.credits = scripts[2];
        content.vege = scripts[3];
        const uint32_t times[] = {2000,   6000,   10000,  16000,  22000,  26000,  30000,
                                  61089,  63000,  66000,  75000,  76500,  78000,  90000,
                                  92000,  104000, 106500, 106905, 107400, 109000, 141900,
                                  194300, 211630, 212500, 213500, 215000, 215990, 219000};
        for (uint32_t ms : times) {
            std::ostringstream path;
            path << options.preview << "/preview-" << ms << ".png";
            if (!writePng(path.str(), renderPreview(content, ms, 1920))) {
                return 1;
            }
        }
    }
    return 0;
}
