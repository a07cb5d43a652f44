#pragma once

#include <string>

#include "App/ICurl.h"
#include "Platform/Obj.h"
#include "Platform/RefCounted.h"

namespace _NET {

// HTTP(S) JSON client on libcurl; certificates and host names are not verified.
struct Code_Curl : ICurl {
    QX_REFCOUNTED
public:
    static _OBJ<ICurl> Create(const std::string& url);

    RESULT Post(const nlohmann::json& body, int timeoutMs) override;
    ~Code_Curl() override;

private:
    explicit Code_Curl(const std::string& url);

    std::string m_Url;
};

}  // namespace _NET
