#pragma once
// Something drawn over a finished scene. The first two slots are unused hooks.

class PostProcess {
public:
    virtual void prepare() {}
    virtual void finish() {}
    virtual void draw() = 0;

protected:
    ~PostProcess() = default;  // owners hold the concrete type by value
};
