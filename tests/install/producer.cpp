// producer.cpp - the smallest producer a user builds against an install:
// it makes scene NAME, one canvas with one text, and says how many
// canvases the scene holds.
#include <stdio.h>

#include <string>

#include "canvas_builder.h"
#include "qvp_host.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: producer SCENE\n");
        return 2;
    }
    char err[256];
    std::string e;
    if (!QVH_OpenScene(argv[1], 0, QVH_SCENE_CREATE, err, sizeof err)) {
        fprintf(stderr, "producer: %s\n", err);
        return 1;
    }
    QVP_CANVAS d;
    qvpc::DefaultCanvas(d);
    snprintf(d.name, sizeof d.name, "hello");
    qvpc::ElementDesc t;
    qvpc::DefaultElement(t, ELEMENT_TEXT);
    t.text = "hello";
    QVP_CANVAS *c = nullptr;
    bool ok = qvpc::Attach(e) && (c = qvpc::CreateCanvas(d, {}, e)) && qvpc::AddElement(c, t, e);
    if (ok) printf("producer: %zu canvas\n", qvpc::Canvases().size());
    else fprintf(stderr, "producer: %s\n", e.c_str());
    QVH_CloseScene();
    QVH_RemoveScene(argv[1]);
    return ok ? 0 : 1;
}
