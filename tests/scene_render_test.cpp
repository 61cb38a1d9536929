// Placeholder until the render suite lands.
