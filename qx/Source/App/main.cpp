#include "App/MainCtrl.h"
#include "Platform/Gcd.h"

int main(int argc, char** argv) {
    _GCD::Run([argc, argv] { MAIN_CTRL::Initialize(argc, argv); }, 0);
    return 0;
}
