#include <map>
#include <mutex>

#include "foundation/coder.h"

namespace hv {

namespace {

struct Registry {
    std::mutex mutex;
    // Node-based, so a pointer handed out by find() stays valid when other classes are added.
    std::map<std::string, ClassCoding, std::less<>> classes;
};

Registry& registry() {
    static Registry r;
    return r;
}

}  // namespace

void ClassRegistry::add(ClassCoding coding) {
    if (coding.classChain.empty() || !coding.encode || !coding.decode) return;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    std::string name = coding.classChain.front();
    r.classes.insert_or_assign(std::move(name), std::move(coding));
}

const ClassCoding* ClassRegistry::find(std::string_view className) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.classes.find(className);
    return it == r.classes.end() ? nullptr : &it->second;
}

}  // namespace hv
