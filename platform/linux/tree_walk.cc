#include "platform/linux/tree_walk.h"

#include <fts.h>
#include <sys/stat.h>

#include <memory>

namespace hv {
namespace {

struct FtsCloser {
    void operator()(FTS* fts) const { ::fts_close(fts); }
};

}  // namespace

bool walkTree(const std::string& root, const std::function<void(const TreeEntry&)>& entry) {
    std::string rootCopy = root;
    char* const paths[] = {rootCopy.data(), nullptr};
    // FTS_NOCHDIR keeps the daemon's working directory; FTS_PHYSICAL reports links as links.
    std::unique_ptr<FTS, FtsCloser> fts(
        ::fts_open(paths, FTS_PHYSICAL | FTS_NOCHDIR | FTS_COMFOLLOW, nullptr));
    if (!fts) return false;

    bool rootOpened = false;
    while (FTSENT* node = ::fts_read(fts.get())) {
        if (node->fts_level == FTS_ROOTLEVEL) {
            if (node->fts_info == FTS_D) rootOpened = true;
            // A root that is not a readable directory ends the walk; its post-order visit is
            // skipped like any other.
            if (node->fts_info != FTS_D && node->fts_info != FTS_DP) return false;
            continue;
        }
        switch (node->fts_info) {
            case FTS_D:
            case FTS_DNR:  // unreadable directory: still an entry, nothing below it is seen
            case FTS_DC:
                entry({node->fts_path, static_cast<uint64_t>(node->fts_statp->st_size), true});
                break;
            case FTS_F:
            case FTS_SL:
            case FTS_SLNONE:
            case FTS_DEFAULT:
                entry({node->fts_path, static_cast<uint64_t>(node->fts_statp->st_size), false});
                break;
            default:  // FTS_DP (second visit of a directory), FTS_NS and FTS_ERR: nothing to count
                break;
        }
    }
    return rootOpened;
}

bool walkTreeSizes(const std::string& root, const std::function<void(uint64_t)>& entry) {
    return walkTree(root, [&entry](const TreeEntry& e) { entry(e.directory ? 0 : e.size); });
}

}  // namespace hv
