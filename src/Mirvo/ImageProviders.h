#pragma once

class QQmlEngine;

namespace mirvo {

class AppModel;

// Gives `engine` every image provider the screens use: "icons" (app icons from the model's caches) and
// "symbols" (the tinted symbol icons). Every engine that loads the screens calls this before loading them.
void installImageProviders(QQmlEngine& engine, AppModel& model);

} // namespace mirvo
