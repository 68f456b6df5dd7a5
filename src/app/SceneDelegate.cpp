#include "app/SceneDelegate.h"

FERNHOLD_REGISTER_CLASS(SceneDelegate, "Fernhold.SceneDelegate");
