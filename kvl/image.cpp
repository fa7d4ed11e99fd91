/*
 * image.cpp - Image: the local image of one managed object.
 *
 * Operations that wait hold the image's record in a local shared_ptr (im):
 * a callback run during the wait may point this handle at another record,
 * and the operation must finish on the one it started with.
 */
#include "kvl/base64.h"
#include "kvl/image_batch.h"
#include "kvl/kvl_private.h"
#include "kvl/transport.h"

#include <algorithm>
#include <cstring>
#include <deque>

namespace {

DataUnit unit(const std::string& s)
{
    return DataUnit(s.data(), s.size());
}

std::string display_name(const std::string& full)
{
    size_t colon = full.rfind(':');
    return colon == std::string::npos ? full : full.substr(colon + 1);
}

std::string str_field(const json& o, const char* key)
{
    if (o.is_object() && o.contains(key) && o[key].is_string()) return o[key].get<std::string>();
    return std::string();
}

/* True when text is well-formed UTF-8 (no overlong forms, surrogates or
 * code points past U+10FFFF): the wire carries nothing else. */
bool valid_utf8(const char* text, size_t n)
{
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    size_t i = 0;
    while (i < n) {
        unsigned char c = s[i];
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (len == 0 || i + len > n) return false;
        unsigned long cp = len == 1 ? c : c & (0x7f >> len);
        for (size_t k = 1; k < len; k++) {
            if ((s[i + k] & 0xc0) != 0x80) return false;
            cp = (cp << 6) | (s[i + k] & 0x3f);
        }
        static const unsigned long least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[len] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) return false;
        i += len;
    }
    return true;
}

/* An image with no object, for AlbumImage past its end. */
Image& empty_image()
{
    static Image img;
    return img;
}

bool need_impl(Image& img)
{
    if (img.impl_) return true;
    img.set_error(KVL_ERR_ARGUMENT, "the image is empty: it was made without an object name");
    return false;
}

/* Fills the image's values from a get or blank result. */
void load_values(ImageImpl& im, const json& result)
{
    std::vector<AttrValue> attrs;
    if (result.contains("attributes") && result["attributes"].is_array()) {
        for (const json& a : result["attributes"]) {
            AttrValue v;
            v.name = str_field(a, "name");
            v.access = str_field(a, "access");
            v.value = unit(str_field(a, "value"));
            v.read = v.value;
            v.binary = kvl_take_bytes(v, a);
            if (!v.name.empty()) attrs.push_back(std::move(v));
        }
    }
    im.attrs = std::move(attrs);
    im.conflict_attr.clear();
    im.conflict_value.clear();
    std::string cls = str_field(result, "class");
    if (!cls.empty()) im.cls = cls;
    im.partial = result.contains("partial") && result["partial"].is_boolean() &&
                 result["partial"].get<bool>();
}

/* Takes the answer to a get of the image's object into it. */
void take_object(ImageImpl& im, const json& result)
{
    std::string canonical = str_field(result, "name");
    if (!canonical.empty() && canonical != im.name) {
        if (im.watching) im.stop_watch();
        im.name = canonical;
    }
    im.canonical = true;
    load_values(im, result);
    im.booted = true;
    im.present = true;
}

/* The parameters of a get of the image's object. */
json get_params(const ImageImpl& im)
{
    json params = {{"name", im.name}};
    if (!im.want_class.empty()) params["class"] = im.want_class;
    return params;
}

/* Reads the object (or the blank class) from the server. */
bool fetch(Image& img, double timeout)
{
    std::shared_ptr<ImageImpl> keep = img.impl_; /* callbacks may repoint img during the wait */
    ImageImpl& im = *keep;
    if (!kvl_check_connected(im.plat, img)) return false;
    json result;
    if (im.blank) {
        if (im.want_class.empty()) {
            img.set_error(KVL_ERR_ARGUMENT,
                          "a blank image (object name NONE) needs a class to describe");
            return false;
        }
        if (!im.plat->request("blank", json{{"class", im.want_class}}, timeout, img,
                              "blank " + im.want_class, &result))
            return false;
        load_values(im, result);
        im.booted = true;
        im.present = false;
        return true;
    }
    json params = get_params(im);
    /* A tracked image is watched before it is read: the server takes a
     * connection's requests in order, so no change made by another client
     * after the read can come before the watch and be missed. */
    if (im.tracked && !im.watching) im.start_watch();
    if (!im.plat->request("get", params, timeout, img, "get " + im.name, &result)) {
        if (img.get_error_type() == KVL_ERR_NO_OBJECT) im.present = false;
        im.stop_watch();
        return false;
    }
    take_object(im, result);
    if (im.tracked && !im.watching) im.start_watch();
    return true;
}

/* The one lazy fetch of an image that was made but not booted. */
bool ensure_values(Image& img)
{
    if (!need_impl(img)) return false;
    std::shared_ptr<ImageImpl> keep = img.impl_;
    ImageImpl& im = *keep;
    if (im.booted) return true;
    if (im.fetch_tried) return !im.attrs.empty();
    im.fetch_tried = true;
    return fetch(img, KVL_DEFAULT_TIMEOUT) || !im.attrs.empty();
}

} // namespace

/* ----------------------------------------------------------------- ImageImpl */

ImageImpl::~ImageImpl()
{
    if (watching && plat) plat->unwatch(watched_name);
}

AttrValue* ImageImpl::find(const std::string& attr)
{
    for (auto& a : attrs)
        if (a.name == attr) return &a;
    if (attr.find(':') == std::string::npos)
        for (auto& a : attrs)
            if (display_name(a.name) == attr) return &a;
    return nullptr;
}

void ImageImpl::start_watch()
{
    if (watching || !plat || !plat->connected || blank || name.empty()) return;
    watched_name = name;
    watching = true;
    plat->watch(watched_name);
    bool listed = false;
    for (auto& w : plat->tracked)
        if (w.lock().get() == this) listed = true;
    if (!listed) {
        plat->tracked.erase(
            std::remove_if(plat->tracked.begin(), plat->tracked.end(),
                           [](const std::weak_ptr<ImageImpl>& w) { return w.expired(); }),
            plat->tracked.end());
        plat->tracked.push_back(shared_from_this());
    }
}

void ImageImpl::stop_watch()
{
    if (!watching) return;
    watching = false;
    if (plat) plat->unwatch(watched_name);
}

Image kvl_make_member_image(const std::shared_ptr<PlatformImpl>& plat, std::string name,
                            std::string cls)
{
    Image img;
    img.impl_ = std::make_shared<ImageImpl>();
    img.impl_->plat = plat;
    img.impl_->name = std::move(name);
    img.impl_->cls = std::move(cls);
    img.impl_->canonical = true;
    img.impl_->present = true;
    return img;
}

bool kvl_take_bytes(AttrValue& a, const json& holder)
{
    a.bytes.clear();
    auto list = holder.find("bytes");
    if (list == holder.end() || !list->is_array()) return false;
    std::string raw;
    for (const json& b : *list)
        if (b.is_string() && kvl_unbase64(b.get<std::string>(), raw)) a.bytes.push_back(raw);
    return true;
}

std::string kvl_bytes_text(size_t size)
{
    return "(" + std::to_string(size) + " bytes)";
}

std::string kvl_bytes_text(const std::vector<std::string>& values)
{
    std::string text;
    for (const std::string& v : values)
        text += (text.empty() ? "" : "\n") + kvl_bytes_text(v.size());
    return text;
}

Image kvl_make_booted_image(const std::shared_ptr<PlatformImpl>& plat, const json& result)
{
    Image img = kvl_make_member_image(plat, str_field(result, "name"), str_field(result, "class"));
    img.impl_->fetch_tried = true;
    take_object(*img.impl_, result);
    return img;
}

/* --------------------------------------------------------------------- Image */

Image::Image() {}

Image::Image(const DataUnit& objname, const DataUnit& objclass, Platform& platform)
{
    impl_ = std::make_shared<ImageImpl>();
    impl_->plat = platform.impl_;
    impl_->name = objname.str();
    impl_->want_class = objclass.str();
    impl_->blank = objname == NONE;
    if (kvl_check_connected(impl_->plat, *this) && objname.is_empty())
        set_error(KVL_ERR_ARGUMENT, "an image needs an object name (or NONE and a class)");
}

Image::Image(const Image& o) : Error(o), impl_(o.impl_) {}

Image& Image::operator=(const Image& o)
{
    Error::operator=(o);
    impl_ = o.impl_;
    return *this;
}

Image::~Image() {}

bool Image::is_empty() const
{
    return !impl_;
}

bool Image::boot(double timeout)
{
    std::shared_ptr<ImageImpl> im = impl_;
    if (!need_impl(*this)) return false;
    im->fetch_tried = true;
    return fetch(*this, timeout);
}

int boot_images(std::vector<Image>& images, double timeout)
{
    struct Asked {
        std::shared_ptr<ImageImpl> im; /* kept: a callback may repoint the handle */
        size_t index;
        long id;
    };
    std::deque<Asked> out;
    int booted = 0;
    size_t next = 0;
    while (next < images.size() || !out.empty()) {
        while (out.size() < KVL_BOOT_WINDOW && next < images.size()) {
            Image& img = images[next++];
            if (!need_impl(img)) continue;
            std::shared_ptr<ImageImpl> im = img.impl_;
            if (im->blank || im->tracked) { /* watched before it is read, or no object */
                booted += img.boot(timeout);
                continue;
            }
            im->fetch_tried = true;
            if (!kvl_check_connected(im->plat, img)) continue;
            long id = im->plat->send("get", get_params(*im), &img);
            if (!id) {
                im->plat->dispatch_events(); /* the write found the connection gone */
                continue;
            }
            out.push_back({im, next - 1, id});
        }
        if (out.empty()) break;
        Asked a = std::move(out.front());
        out.pop_front();
        KvlReply r = a.im->plat->wait(a.id, timeout, "get " + a.im->name);
        Image& img = images[a.index];
        if (!r.ok) {
            if (img.impl_ == a.im) img.set_error(r.type, r.message.c_str(), r.code);
            if (r.type == KVL_ERR_NO_OBJECT) a.im->present = false;
            continue;
        }
        take_object(*a.im, r.result);
        booted++;
    }
    return booted;
}

bool Image::exists()
{
    std::shared_ptr<ImageImpl> im = impl_;
    if (!im || im->blank) return false;
    if (!im->booted && !im->fetch_tried) ensure_values(*this);
    return im->present && im->booted;
}

DataUnit Image::get_objname()
{
    if (!impl_) return DataUnit();
    return unit(impl_->name);
}

DataUnit Image::get_user_name()
{
    if (!impl_) return DataUnit();
    if (!impl_->user_name.empty()) return unit(impl_->user_name);
    const std::shared_ptr<PlatformImpl>& plat = impl_->plat;
    if (!plat || !plat->transport) return unit(impl_->name);
    return unit(plat->transport->user_name(impl_->name));
}

DataUnit Image::get_objclass()
{
    std::shared_ptr<ImageImpl> im = impl_;
    if (!im) return DataUnit();
    if (im->cls.empty()) ensure_values(*this);
    return unit(im->cls);
}

DUArray Image::get_attr_names(int flag)
{
    std::shared_ptr<ImageImpl> im = impl_;
    DUArray names;
    if (!ensure_values(*this)) return names;
    for (const AttrValue& a : im->attrs)
        if (flag != 1 || a.access == "read-write") names.append(unit(a.name));
    return names;
}

DataUnit Image::get_str(const DataUnit& attr, int format)
{
    std::shared_ptr<ImageImpl> im = impl_;
    (void)format;
    if (!ensure_values(*this)) return DataUnit();
    AttrValue* a = im->find(attr.str());
    if (!a && im->partial) return DataUnit(); /* not listed: no values */
    if (!a) {
        set_error(KVL_ERR_NO_ATTRIBUTE,
                  (std::string("no attribute '") + attr.str() + "' in " +
                   (im->cls.empty() ? std::string("the image") : "class " + im->cls) + " (" +
                   im->name + ")")
                      .c_str());
        return DataUnit();
    }
    return a->value;
}

bool Image::set_str(const DataUnit& attr, const DataUnit& value, const DataUnit& modify, int format)
{
    std::shared_ptr<ImageImpl> im = impl_;
    (void)format;
    if (modify != REPLACE) {
        set_error(KVL_ERR_ARGUMENT, (std::string("modify operator '") + modify.str() +
                                     "' is not supported; use REPLACE")
                                        .c_str());
        return false;
    }
    if (!ensure_values(*this)) return false;
    AttrValue* a = im->find(attr.str());
    /* An object yet to be created also takes attributes its class lacks
     * when the server accepts them: a directory's auxiliary classes add
     * attributes to an entry.  So does an entry its server lists only with
     * the attributes that have values. */
    const bool may_add = im->blank || im->partial;
    if (!a && !may_add) {
        set_error(KVL_ERR_NO_ATTRIBUTE,
                  (std::string("no attribute '") + attr.str() + "' in class " + im->cls).c_str());
        return false;
    }
    if (a && a->access == "read-only" && im->present && !im->blank) {
        set_error(KVL_ERR_ACCESS,
                  ("attribute " + a->name + " is read-only: it is set when the object is created")
                      .c_str());
        return false;
    }
    std::string full = a ? a->name : attr.str();
    if (a && a->binary) {
        /* A form writing back what it shows changes nothing. */
        if (value == a->value) return true;
        set_error(KVL_ERR_SYNTAX,
                  ("the values of " + full + " are bytes, not text: they cannot be typed").c_str());
        return false;
    }
    if (!valid_utf8(value.str(), value.length())) {
        set_error(KVL_ERR_SYNTAX,
                  ("value for " + full + " refused: it is not valid UTF-8 text").c_str());
        return false;
    }
    if (std::memchr(value.str(), 0, value.length())) {
        set_error(KVL_ERR_SYNTAX,
                  ("value for " + full + " refused: text holds no NUL bytes").c_str());
        return false;
    }
    json result;
    if (!kvl_check_connected(im->plat, *this) ||
        !im->plat->request("validate", json{{"attribute", full}, {"value", value.str()}},
                           KVL_DEFAULT_TIMEOUT, *this, "validate " + full, &result))
        return false;
    /* The wait may have run callbacks that changed the image: look again. */
    a = im->find(full);
    if (!a && may_add) { /* read as empty: store expects it to have no values */
        im->attrs.emplace_back();
        a = &im->attrs.back();
        a->name = full;
        a->access = "read-write";
    }
    if (!a) return false;
    a->value =
        unit(result.contains("value") ? str_field(result, "value") : std::string(value.str()));
    a->changed = true;
    return true;
}

bool Image::get_bytes(const DataUnit& attr, DUArray& values)
{
    std::shared_ptr<ImageImpl> im = impl_;
    values.clear();
    if (!ensure_values(*this)) return false;
    AttrValue* a = im->find(attr.str());
    if (!a || !a->binary) return false;
    for (const std::string& b : a->bytes) values.append(DataUnit(b.data(), b.size()));
    return true;
}

bool Image::set_bytes(const DataUnit& attr, const DUArray& values)
{
    std::shared_ptr<ImageImpl> im = impl_;
    if (!ensure_values(*this)) return false;
    AttrValue* a = im->find(attr.str());
    if (!a && im->partial && im->present) { /* none yet: it has bytes from now on */
        im->attrs.emplace_back();
        a = &im->attrs.back();
        a->name = attr.str();
        a->access = "read-write";
        a->binary = true;
    }
    if (!a) {
        set_error(KVL_ERR_NO_ATTRIBUTE,
                  (std::string("no attribute '") + attr.str() + "' in class " + im->cls).c_str());
        return false;
    }
    if (!a->binary) {
        set_error(
            KVL_ERR_SYNTAX,
            ("the values of " + a->name + " are text, not bytes: set_str gives them").c_str());
        return false;
    }
    if (!a->changed) a->read_bytes = std::move(a->bytes);
    a->bytes.clear();
    for (int i = 0; i < values.count(); i++)
        a->bytes.emplace_back(values[i].str(), values[i].length());
    a->value = unit(kvl_bytes_text(a->bytes));
    a->changed = true;
    return true;
}

bool Image::set_prop(const DataUnit& name, const DataUnit& value)
{
    if (!need_impl(*this)) return false;
    if (name != TRACKMODE) {
        set_error(
            KVL_ERR_ARGUMENT,
            (std::string("an image has no property '") + name.str() + "' (TRACKMODE)").c_str());
        return false;
    }
    if (value == TRACK) {
        impl_->tracked = true;
        if (impl_->canonical && impl_->present) impl_->start_watch();
    } else if (value == NOTRACK) {
        impl_->tracked = false;
        impl_->stop_watch();
    } else {
        set_error(
            KVL_ERR_ARGUMENT,
            (std::string("TRACKMODE takes TRACK or NOTRACK, not '") + value.str() + "'").c_str());
        return false;
    }
    return true;
}

DataUnit Image::get_prop(const DataUnit& name)
{
    if (impl_ && name == TRACKMODE) return impl_->tracked ? TRACK : NOTRACK;
    return DataUnit();
}

bool Image::store(double timeout)
{
    std::shared_ptr<ImageImpl> im = impl_;
    if (!need_impl(*this)) return false;
    im->conflict_attr.clear();
    im->conflict_value.clear();
    if (im->blank) {
        set_error(
            KVL_ERR_ARGUMENT,
            "the image is of an object yet to be created (NONE): use create_within, not store");
        return false;
    }
    /* Text goes as values, bytes as base64 lists; each with what was read,
     * which the server compares with what it holds before it changes it. */
    json values = json::object(), expect = json::object();
    json bytes = json::object(), expect_bytes = json::object();
    auto base64_list = [](const std::vector<std::string>& list) {
        json out = json::array();
        for (const std::string& b : list) out.push_back(kvl_base64(b));
        return out;
    };
    for (const AttrValue& a : im->attrs) {
        if (!a.changed) continue;
        if (a.binary) {
            bytes[a.name] = base64_list(a.bytes);
            if (im->booted) expect_bytes[a.name] = base64_list(a.read_bytes);
            continue;
        }
        values[a.name] = a.value.str();
        if (im->booted) expect[a.name] = a.read.str();
    }
    if (values.empty() && bytes.empty()) return true;
    if (!kvl_check_connected(im->plat, *this)) return false;
    std::string target = im->name;
    json params = {{"name", target}, {"values", values}};
    if (!expect.empty()) params["expect"] = expect;
    if (!bytes.empty()) params["bytes"] = bytes;
    if (!expect_bytes.empty()) params["expect_bytes"] = expect_bytes;
    json data;
    if (!im->plat->request("set", params, timeout, *this, "set " + target, &data)) {
        if (get_error_type() == KVL_ERR_CHANGED) {
            im->conflict_attr = str_field(data, "attribute");
            im->conflict_value = str_field(data, "value");
        }
        return false;
    }
    /* What changed again during the wait stays changed. */
    for (AttrValue& a : im->attrs) {
        bool sent = a.binary ? bytes.contains(a.name) && bytes[a.name] == base64_list(a.bytes)
                             : values.contains(a.name) && values[a.name] == a.value.str();
        if (!a.changed || !sent) continue;
        a.changed = false;
        a.read = a.value;
        a.read_bytes.clear();
    }
    return true;
}

void Image::mark_read()
{
    if (!impl_) return;
    for (AttrValue& a : impl_->attrs)
        if (!a.changed) a.read = a.value;
}

bool Image::changed_on_server(DataUnit& attr, DataUnit& value) const
{
    if (!impl_ || impl_->conflict_attr.empty()) return false;
    attr = unit(impl_->conflict_attr);
    value = unit(impl_->conflict_value);
    return true;
}

bool Image::destroy(double timeout)
{
    std::shared_ptr<ImageImpl> im = impl_;
    if (!need_impl(*this)) return false;
    if (im->blank) {
        set_error(KVL_ERR_ARGUMENT,
                  "the image is of an object yet to be created (NONE): nothing to delete");
        return false;
    }
    if (!kvl_check_connected(im->plat, *this)) return false;
    std::string target = im->name;
    if (!im->plat->request("delete", json{{"name", target}}, timeout, *this, "delete " + target,
                           nullptr))
        return false;
    im->present = false;
    im->stop_watch();
    return true;
}

namespace {

/* The create request for img beneath parent, into params (its class into
 * cls); false with img's error set when it cannot be asked. */
bool create_request(Image& img, ImageImpl& im, const std::string& parent, std::string& cls,
                    json& params)
{
    if (!ensure_values(img)) return false;
    cls = im.cls.empty() ? im.want_class : im.cls;
    if (cls.empty()) {
        img.set_error(KVL_ERR_ARGUMENT, "cannot create an object: the image has no class");
        return false;
    }
    if (parent.empty()) {
        img.set_error(KVL_ERR_ARGUMENT, "cannot create an object: no parent FDN given");
        return false;
    }
    json values = json::object(), bytes = json::object();
    for (const AttrValue& a : im.attrs) {
        if (a.binary) {
            /* Bytes go as base64; their text is only their sizes. */
            if (a.bytes.empty()) continue;
            json& list = bytes[a.name] = json::array();
            for (const std::string& b : a.bytes) list.push_back(kvl_base64(b));
        } else if (!a.value.is_empty() && (a.changed || display_name(a.name) != "objectClass")) {
            values[a.name] = a.value.str();
        }
    }
    params = {{"parent", parent}, {"class", cls}, {"values", values}};
    if (!bytes.empty()) params["bytes"] = bytes;
    return kvl_check_connected(im.plat, img);
}

/* img, of class cls, is now the object the server created (result): a
 * handle to it goes into created. */
void take_created(Image& img, ImageImpl& im, const std::string& cls, const json& result,
                  Image& created)
{
    std::string name = str_field(result, "name");
    std::string new_class = str_field(result, "class");
    im.stop_watch();
    im.name = name;
    im.cls = new_class.empty() ? cls : new_class;
    im.want_class = im.cls;
    im.blank = false;
    im.present = true;
    im.canonical = true;
    im.booted = false; /* the server's values are read on the next read */
    im.fetch_tried = false;
    for (AttrValue& a : im.attrs) a.changed = false;
    if (im.tracked) im.start_watch();
    if (&created != &img && created.impl_ != img.impl_)
        created = kvl_make_member_image(im.plat, name, im.cls);
}

} // namespace

bool Image::create_within(const DataUnit& parent, Image& created, double timeout)
{
    std::shared_ptr<ImageImpl> im = impl_;
    if (!need_impl(*this)) return false;
    std::string cls;
    json params, result;
    if (!create_request(*this, *im, parent.str(), cls, params) ||
        !im->plat->request("create", params, timeout, *this,
                           "create " + cls + " beneath " + parent.str(), &result))
        return false;
    take_created(*this, *im, cls, result, created);
    return true;
}

int create_images(std::vector<ImageCreation>& batch, double timeout)
{
    struct Asked {
        std::shared_ptr<ImageImpl> im; /* kept: a callback may repoint the handle */
        size_t index;
        long id;
        std::string cls;
    };
    std::deque<Asked> out;
    int created = 0;
    bool refused = false; /* nothing more is asked after a refusal */
    size_t next = 0;
    while ((!refused && next < batch.size()) || !out.empty()) {
        while (!refused && out.size() < KVL_CREATE_WINDOW && next < batch.size()) {
            ImageCreation& job = batch[next++];
            Image& img = job.image;
            json params;
            std::string cls;
            if (!need_impl(img) || !create_request(img, *img.impl_, job.parent, cls, params)) {
                job.state = ImageCreation::REFUSED;
                refused = true;
                break;
            }
            std::shared_ptr<ImageImpl> im = img.impl_;
            long id = im->plat->send("create", params, &img);
            if (!id) {
                im->plat->dispatch_events(); /* the write found the connection gone */
                job.state = ImageCreation::REFUSED;
                refused = true;
                break;
            }
            out.push_back({im, next - 1, id, cls});
        }
        if (out.empty()) break;
        Asked a = std::move(out.front());
        out.pop_front();
        ImageCreation& job = batch[a.index];
        KvlReply r = a.im->plat->wait(a.id, timeout, "create " + a.cls + " beneath " + job.parent);
        if (!r.ok) {
            if (job.image.impl_ == a.im) job.image.set_error(r.type, r.message.c_str(), r.code);
            job.state = ImageCreation::REFUSED;
            refused = true;
            continue;
        }
        take_created(job.image, *a.im, a.cls, r.result, job.created);
        job.state = ImageCreation::CREATED;
    }
    /* Those before the first refusal: a job refused before it was sent
     * may follow jobs whose answers came after it. */
    while (created < (int)batch.size() && batch[created].state == ImageCreation::CREATED) created++;
    return created;
}

bool Image::set_from_ref(Image& ref)
{
    std::shared_ptr<ImageImpl> im = impl_;
    if (!need_impl(*this)) return false;
    if (!ensure_values(*this)) {
        if (!get_error_type())
            set_error(KVL_ERR_ARGUMENT, "the image has no attributes to copy into");
        return false;
    }
    std::shared_ptr<ImageImpl> ref_im = ref.impl_;
    if (!ref_im || !ensure_values(ref)) {
        set_error(
            KVL_ERR_ARGUMENT,
            (std::string("the reference image has no values to copy") +
             (ref.get_error_type() ? std::string(": ") + ref.get_error_string() : std::string()))
                .c_str());
        return false;
    }
    for (AttrValue& a : im->attrs) {
        if (display_name(a.name) == "objectClass") continue;
        if (AttrValue* r = ref_im->find(a.name)) {
            a.value = r->value;
            a.binary = a.binary || r->binary;
            a.bytes = r->bytes;
            a.changed = true;
        }
    }
    return true;
}

Album Image::first_album()
{
    Album best;
    if (impl_ && impl_->plat) {
        const PlatformImpl::KnownAlbum* found = nullptr;
        for (const auto& k : impl_->plat->albums) {
            if (k.ref.expired()) continue;
            const AlbumImpl* a = k.raw;
            if (!a->derived_seq || (found && a->derived_seq <= found->raw->derived_seq)) continue;
            if (a->holds(impl_->name)) found = &k;
        }
        if (found) best.impl_ = found->ref.lock();
    }
    if (!best.impl_)
        best.set_error(KVL_ERR_NO_OBJECT, (std::string("no derived album holds ") +
                                           (impl_ ? impl_->name : std::string("the empty image")))
                                              .c_str());
    return best;
}

DataUnit Image::call(const DataUnit& action, const DataUnit& argument, double timeout)
{
    std::shared_ptr<ImageImpl> im = impl_;
    if (!need_impl(*this)) return DataUnit();
    if (im->blank) {
        set_error(KVL_ERR_ARGUMENT, "cannot run an action on an object yet to be created (NONE)");
        return DataUnit();
    }
    if (action.is_empty()) {
        set_error(KVL_ERR_ARGUMENT, "no action name given");
        return DataUnit();
    }
    json result;
    if (!kvl_check_connected(im->plat, *this) ||
        !im->plat->request(
            "action",
            json{{"name", im->name}, {"action", action.str()}, {"parameter", argument.str()}},
            timeout, *this, std::string("action ") + action.str() + " on " + im->name, &result))
        return DataUnit();
    return unit(str_field(result, "reply"));
}

bool Image::when(const DataUnit& event, const Callback& cb)
{
    if (!need_impl(*this)) return false;
    if (event != ATTR_CHANGED) {
        set_error(
            KVL_ERR_ARGUMENT,
            (std::string("an image has no event '") + event.str() + "' (ATTR_CHANGED)").c_str());
        return false;
    }
    impl_->callbacks[event.str()] = cb;
    return true;
}

/* ---------------------------------------------------------------- AlbumImage */

AlbumImage::AlbumImage() {}
AlbumImage::AlbumImage(const AlbumImage& o)
    : snap_(o.snap_), index_(o.index_), current_(o.current_), current_index_(o.current_index_)
{}
AlbumImage& AlbumImage::operator=(const AlbumImage& o)
{
    snap_ = o.snap_;
    index_ = o.index_;
    current_ = o.current_;
    current_index_ = o.current_index_;
    return *this;
}
AlbumImage::~AlbumImage() {}

bool AlbumImage::is_valid() const
{
    return snap_ && index_ >= 0 && static_cast<size_t>(index_) < snap_->list.size();
}

AlbumImage& AlbumImage::next_image()
{
    if (!snap_ || static_cast<size_t>(index_ + 1) > snap_->list.size()) return *this;
    index_++;
    while (static_cast<size_t>(index_) < snap_->list.size() && snap_->list[index_].removed)
        index_++;
    return *this;
}

Image& AlbumImage::image()
{
    if (!is_valid()) {
        empty_image() = Image();
        return empty_image();
    }
    if (current_index_ != index_) {
        current_ = snap_->image(static_cast<size_t>(index_));
        current_index_ = index_;
    }
    return current_;
}
