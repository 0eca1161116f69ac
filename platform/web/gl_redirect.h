// The gl* calls that go through the display-list layer (gl_layer.h) when
// ZEPHYRA_GL_LAYER is defined: included by platform/gl.h after the GL
// headers, so the portable code's calls of these names reach ZephyraGl.
#pragma once
#include "platform/web/gl_layer.h"

#define glGenLists ZephyraGl.GenLists
#define glDeleteLists ZephyraGl.DeleteLists
#define glNewList ZephyraGl.NewList
#define glEndList ZephyraGl.EndList
#define glCallList ZephyraGl.CallList
#define glBegin ZephyraGl.Begin
#define glEnd ZephyraGl.End
#define glVertex3f ZephyraGl.Vertex3f
#define glVertex3fv ZephyraGl.Vertex3fv
#define glTexCoord2f ZephyraGl.TexCoord2f
#define glColor4f ZephyraGl.Color4f
#define glLineWidth ZephyraGl.LineWidth
#define glTexParameteri ZephyraGl.TexParameteri
#define glBindTexture ZephyraGl.BindTexture
#define glTexImage2D ZephyraGl.TexImage2D
#define glHint ZephyraGl.Hint
