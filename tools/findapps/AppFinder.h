#pragma once
// Placeholder until the finder lands.
