#pragma once

#include <cstddef>
#include <string>

#include "App/ICurl.h"
#include "Platform/Obj.h"
#include "Platform/RefCounted.h"

namespace _NET {

// HTTP(S) JSON client on libcurl; certificates and host names are not verified.
struct Code_Curl : ICurl {
    QX_REFCOUNTED
public:
    // A longer reply body fails the transfer: the ping's answer is a few bytes.
    static constexpr size_t kMaxReplyBytes = 64 * 1024;

    static _OBJ<ICurl> Create(const std::string& url);

    RESULT Post(const nlohmann::json& body, int timeoutMs) override;
    ~Code_Curl() override;

private:
    explicit Code_Curl(const std::string& url);

    std::string m_Url;
};

}  // namespace _NET
