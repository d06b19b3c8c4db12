#!/usr/bin/env python3
"""Reference numbers of nonsym_trace_expected.txt: the first iterations of the eight nonsymmetric
methods on the 6x6 system of nonsym_iter_test.cpp, in 60-digit decimal arithmetic, with dense
matrices and the incomplete factors formed column by column in the Crout order. Prints, per case,
the prescribed-node count, the selector, ITCGNS, NITER, ERR and RES; the trace lines were then
printed by gfortran (../shared/tools/fortran-format) with these values."""
from decimal import Decimal as D, getcontext
getcontext().prec = 60

def mat(rows): return [[D(v) for v in r] for r in rows]

def ilu0(A, pat):
    n=len(A); L=[[D(0)]*n for _ in range(n)]; U=[[D(0)]*n for _ in range(n)]
    piv_prev=None
    for i in range(n):
        # column i of L: j>=i
        for j in range(i,n):
            if pat[j][i]:
                L[j][i]=A[j][i]-sum((L[j][m]*U[m][i] for m in range(i) if pat[j][m] and pat[m][i]), D(0))
        if L[i][i]==0:
            L[i][i]=piv_prev
        piv_prev=L[i][i]
        for j in range(i+1,n):
            if pat[i][j]:
                U[i][j]=(A[i][j]-sum((L[i][m]*U[m][j] for m in range(i) if pat[i][m] and pat[m][j]), D(0)))/L[i][i]
        U[i][i]=D(1)
    return L,U

def mv(M,v): return [sum((M[i][j]*v[j] for j in range(len(v))), D(0)) for i in range(len(M))]
def dot(u,v): return sum((a*b for a,b in zip(u,v)), D(0))
def lsol(L,r):
    n=len(r); z=[D(0)]*n
    for i in range(n): z[i]=(r[i]-sum((L[i][j]*z[j] for j in range(i)),D(0)))/L[i][i]
    return z
def usol(U,r):
    n=len(r); z=[D(0)]*n
    for i in reversed(range(n)): z[i]=r[i]-sum((U[i][j]*z[j] for j in range(i+1,n)),D(0))
    return z
def axpy(a,x,y): return [a*xi+yi for xi,yi in zip(x,y)]
def sub(x,y): return [a-b for a,b in zip(x,y)]
def add(x,y): return [a+b for a,b in zip(x,y)]
def scal(a,x): return [a*xi for xi in x]

class Sys:
    def __init__(s,A,pat,b,dirn,mode):
        s.A=A; s.pat=pat; s.b=b; s.dir=dirn; s.mode=mode; s.n=len(b)
        s.L,s.U=ilu0(A,pat)
        s.bn=sum((b[i]*b[i] for i in range(s.n) if i+1 not in dirn), D(0))
        s.dinv=[D(1)/A[i][i] for i in range(s.n)]
    def op(s,p):
        if s.mode=='split': return lsol(s.L, mv(s.A, usol(s.U,p)))
        q=mv(s.A,p)
        if s.mode=='diag': q=[a*b for a,b in zip(s.dinv,q)]
        return q
    def prec(s,r):
        if s.mode=='split': return lsol(s.L,r)
        if s.mode=='diag': return [a*b for a,b in zip(s.dinv,r)]
        return r
    def to_it(s,x): return mv(s.U,x) if s.mode=='split' else x
    def from_it(s,y): return usol(s.U,y) if s.mode=='split' else y
    def zero(s,r): return [D(0) if i+1 in s.dir else r[i] for i in range(s.n)]
    def meas(s,r,allnodes=False):
        rr=sum((r[i]*r[i] for i in range(s.n) if allnodes or i+1 not in s.dir), D(0))
        return (rr/s.bn).sqrt() if s.bn>0 else (rr/s.n).sqrt()
    def res(s,x):
        r=s.zero(sub(s.b,mv(s.A,x)))
        return s.meas(r)

def bicgstab(s,x,itmax,tol):
    r=s.prec(sub(s.b,mv(s.A,x))); y=s.to_it(x); rt=r[:]; p=[D(0)]*s.n; v=p[:]
    rho_old=al=om=D(1); niter=1
    while True:
        rho=dot(rt,r)
        p=add(r, scal((rho/rho_old)*(al/om), sub(p,scal(om,v))))
        v=s.op(p); al=rho/dot(rt,v)
        ss=sub(r,scal(al,v)); t=s.op(ss); om=dot(t,ss)/dot(t,t)
        y=add(add(y,scal(al,p)),scal(om,ss)); r=s.zero(sub(ss,scal(om,t)))
        err=s.meas(r)
        if niter<=itmax and err>tol: niter+=1; rho_old=rho
        else: break
    return s.from_it(y),niter,err

def tfqmr(s,x,itmax,tol):
    rh=s.prec(sub(s.b,mv(s.A,x))); y=s.to_it(x)
    w=rh[:]; u1=rh[:]; p=rh[:]; rt=rh[:]; d=[D(0)]*s.n
    v=s.op(u1); w=s.zero(w); tau=dot(w,w).sqrt(); tau0=tau; rho=dot(rt,rh)
    th_p=eta_p=D(0); m=0; om_old=tau0; niter=0
    while True:
        niter+=1
        al=rho/dot(rt,v); u2=sub(u1,scal(al,v))
        w=s.zero(sub(w,scal(al,s.op(add(u1,u2))))); om_new=dot(w,w).sqrt()
        for k,uk in ((1,u1),(2,u2)):
            th=((om_old*om_new).sqrt() if k==1 else om_new)/tau
            c=D(1)/(D(1)+th*th).sqrt(); tau=tau*th*c; eta=c*c*al
            d=add(uk, scal(th_p*th_p*eta_p/al, d)); y=add(y,scal(eta,d))
            err=tau*D(m+2).sqrt()/tau0; m+=1; th_p=th; eta_p=eta
            if niter>=itmax or err<=tol: return s.from_it(y),niter,err
        rho_new=dot(rt,w); be=rho_new/rho
        u1=add(w,scal(be,u2)); p=add(u1,scal(be,add(u2,scal(be,p)))); v=s.op(p)
        om_old=om_new; rho=rho_new

def gramrb(s,x,itmax,tol):
    r=s.prec(sub(s.b,mv(s.A,x))); y=s.to_it(x); niter=1
    while True:
        q=s.op(r); al=dot(q,r)/dot(q,q); y=add(y,scal(al,r)); r=s.zero(sub(r,scal(al,q)))
        err=s.meas(r)
        if err<=tol or niter>=itmax: break
        niter+=1
    return s.from_it(y),niter,err

def gcrk(s,x,itmax,tol):
    r=s.prec(sub(s.b,mv(s.A,x))); y=s.to_it(x); p=r[:]; P={}; Q={}; niter=1
    while True:
        q=s.op(p); al=dot(q,r)/dot(q,q); j=niter%5 or 5; P[j]=p; Q[j]=q
        r=sub(r,scal(al,q)); y=add(y,scal(al,p)); z=s.op(r)
        p=r[:]
        for m in range(1,j+1):
            be=-dot(Q[m],z)/dot(Q[m],Q[m]); p=add(p,scal(be,P[m]))
        err=s.meas(r,allnodes=True)
        if err<=tol or niter>=itmax: break
        niter+=1
    return s.from_it(y),niter,err

METHODS={-5:(bicgstab,'diag'),-4:(bicgstab,'none'),-3:(tfqmr,'diag'),-2:(tfqmr,'none'),
         -1:(tfqmr,'split'),0:(bicgstab,'split'),1:(gramrb,'split'),2:(gcrk,'split')}

def run(A,pat,b,dirn,sel,itmax,tol):
    m,mode=METHODS[sel]; s=Sys(A,pat,b,dirn,mode)
    x0=usol(s.U,lsol(s.L,b))
    x,niter,err=m(s,x0,itmax,tol)
    return niter,err,s.res(x),x
A6=mat([[5,-1,0,-1.5,0,-1],
        [-2,6,-1,0,0,0],
        [0,-1.5,4,-1,0,0],
        [-1,0,-2,5.5,-0.5,0],
        [0,0,0,-1,4,-2],
        [-0.5,0,0,0,-1,3.5]])
pat6=[[a!=0 for a in r] for r in A6]
b6=[D(1),D(2),D(-1),D(3),D(0.5),D(-2)]
if __name__=='__main__':
  for dirn in ([],[3]):
    for sel in (-5,-4,-3,-2,-1,0,1,2):
        for itmax in (1,2):
            it = itmax-1 if sel in (-5,-4,0) else itmax
            niter,err,res,x=run(A6,pat6,b6,dirn,sel,it,D(0))
            print(len(dirn),sel,it,niter,"%.25e"%err,"%.25e"%res)
